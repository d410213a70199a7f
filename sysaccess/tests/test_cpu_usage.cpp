// The system CPU sampler's arithmetic, from injected system answers.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "sysaccess/clsCPUUsage.h"
#include "tests/helpers/TestSupport.h"

namespace {

// A scripted system: each Query reads the next (idle, time) pair.
struct Script {
    int processors = 1;
    std::vector<std::pair<int64_t, int64_t>> samples;  // idle, now (100-ns)
    size_t next = 0;
    bool failPerformance = false;
    std::pair<int64_t, int64_t> current;

    clsCPUUsage::SystemQuery Query() {
        return [this](unsigned long cls, void* buffer, unsigned long size) -> long {
            auto* b = static_cast<unsigned char*>(buffer);
            if (cls == 0) {
                b[clsCPUUsage::kProcessorCountOffset] = static_cast<unsigned char>(processors);
                return 0;
            }
            if (cls == 3) {
                current = samples.at(std::min(next, samples.size() - 1));
                ++next;
                std::memcpy(b + 8, &current.second, 8);
                return 0;
            }
            if (cls == 2) {
                if (failPerformance) return static_cast<long>(0xC0000001);
                std::memcpy(b, &current.first, 8);
                return 0;
            }
            return -1;
        };
    }
};

}  // namespace

TEST(CPUUsage, HalfIdleOnTwoProcessorsIsFifty) {
    Script s;
    s.processors = 2;
    s.samples = {{0, 0}, {10'000'000, 10'000'000}};  // total idle = elapsed time: r = 1
    clsCPUUsage cpu(s.Query());
    cpu.Initialize();
    EXPECT_EQ(cpu.Query(), 50);
}

TEST(CPUUsage, FullyIdleIsZeroAndNoTimeIsHundred) {
    Script s;
    s.processors = 2;
    s.samples = {{0, 0}, {20'000'000, 10'000'000}, {20'000'000, 10'000'000}};
    clsCPUUsage cpu(s.Query());
    cpu.Initialize();
    EXPECT_EQ(cpu.Query(), 0);
    EXPECT_EQ(cpu.Query(), 100) << "same tick, no idle time: both differences 0";
}

TEST(CPUUsage, RoundsHalfUp) {
    Script s;
    s.samples = {{0, 0}, {8'750'000, 10'000'000}, {8'750'000 + 8'751'000, 20'000'000}};
    clsCPUUsage cpu(s.Query());
    cpu.Initialize();
    EXPECT_EQ(cpu.Query(), 13) << "12.5 before the added half";
    EXPECT_EQ(cpu.Query(), 12) << "12.49";
}

TEST(CPUUsage, FailingQueryGivesMinusOneAndKeepsTheSample) {
    Script s;
    s.samples = {{0, 0}, {5'000'000, 10'000'000}, {5'000'000, 10'000'000}};
    clsCPUUsage cpu(s.Query());
    cpu.Initialize();
    s.failPerformance = true;
    EXPECT_EQ(cpu.Query(), -1);
    s.failPerformance = false;
    EXPECT_EQ(cpu.Query(), 50) << "measured from the sample before the failure";
}

TEST(CPUUsage, WithoutInitializeMeasuresFromZero) {
    Script s;
    s.samples = {{2'500'000, 10'000'000}};
    clsCPUUsage cpu(s.Query());
    EXPECT_EQ(cpu.Query(), 75);
}

TEST(CPUUsage, RealSystemGivesAPercentage) {
    clsCPUUsage cpu;
    cpu.Initialize();
    Sleep(200);
    long p = cpu.Query();
    EXPECT_GE(p, 0) << "every system query answers, in a 32-bit and in a 64-bit process";
    EXPECT_LE(p, 101);
}

TEST(CPUUsage, RealSystemSeesSpinningThreads) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const int spinners = std::min<int>(2, static_cast<int>(info.dwNumberOfProcessors));
    testsupport::Child child(L"--threads " + std::to_wstring(spinners));
    ASSERT_TRUE(child.WaitReady());
    clsCPUUsage cpu;
    cpu.Initialize();
    Sleep(1000);
    long p = cpu.Query();
    EXPECT_GE(p, 50 * spinners / static_cast<long>(info.dwNumberOfProcessors)) << "at least half of their share";
    EXPECT_LE(p, 101);
}

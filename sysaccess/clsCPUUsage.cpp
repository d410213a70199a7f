#include "sysaccess/clsCPUUsage.h"

#include <windows.h>

#include <cmath>
#include <cstddef>
#include <cstring>

#include "platform/vb/VbError.h"
#include "sysaccess/ProcessSnapshot.h"

namespace {

long RealQuery(unsigned long infoClass, void* buffer, unsigned long size) {
    return sysaccess::QuerySystemInformation(infoClass, buffer, size, nullptr);
}

int64_t Read64(const unsigned char* p) {
    int64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The fixed-point type of the arithmetic: 4 decimal places, ties to even.
double Round4(double x) { return std::nearbyint(x * 10000.0) / 10000.0; }

constexpr unsigned long kBasic = 0, kPerformance = 2, kTimeOfDay = 3;

// The basic information record as the system lays it out for the process's
// pointer size: 44 bytes with the processor count at offset 40 in a 32-bit
// process, 64 bytes with it at 56 in a 64-bit one (a 44-byte buffer is refused there).
struct BasicInformation {
    ULONG Reserved, TimerResolution, PageSize, NumberOfPhysicalPages, LowestPhysicalPageNumber,
        HighestPhysicalPageNumber, AllocationGranularity;
    ULONG_PTR MinimumUserModeAddress, MaximumUserModeAddress, ActiveProcessorsAffinityMask;
    CCHAR NumberOfProcessors;
};
static_assert(sizeof(BasicInformation) == (sizeof(void*) == 8 ? 64 : 44));
static_assert(offsetof(BasicInformation, NumberOfProcessors) == clsCPUUsage::kProcessorCountOffset);

}  // namespace

clsCPUUsage::clsCPUUsage(SystemQuery query) : query_(query ? std::move(query) : SystemQuery(RealQuery)) {}

void clsCPUUsage::Initialize() {
    unsigned char time[32] = {}, perf[312] = {};
    if (query_(kTimeOfDay, time, sizeof time) != 0) return;
    if (query_(kPerformance, perf, sizeof perf) != 0) return;
    previousIdle_ = Read64(perf);
    previousTime_ = Read64(time + 8);
}

long clsCPUUsage::Query() {
    unsigned char basic[sizeof(BasicInformation)] = {}, time[32] = {}, perf[312] = {};
    if (query_(kBasic, basic, sizeof basic) != 0) return -1;
    if (query_(kTimeOfDay, time, sizeof time) != 0) return -1;
    if (query_(kPerformance, perf, sizeof perf) != 0) return -1;

    const int64_t idle = Read64(perf), now = Read64(time + 8);
    const int processors = basic[kProcessorCountOffset];
    // Differences in the fixed-point type: counts / 10000.
    const double idleDelta = static_cast<double>(idle - previousIdle_) / 10000.0;
    const double timeDelta = static_cast<double>(now - previousTime_) / 10000.0;
    double r = timeDelta != 0 ? Round4(idleDelta / timeDelta) : idleDelta;
    if (processors == 0) throw vb::Error(11);
    double p = Round4(100.0 - (100.0 * r) / processors + 0.5);
    double floored = std::floor(p);
    if (floored > 2147483647.0 || floored < -2147483648.0) throw vb::Error(6);
    previousIdle_ = idle;
    previousTime_ = now;
    return static_cast<long>(floored);
}

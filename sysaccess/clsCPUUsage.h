#pragma once
// Whole-system CPU load between two samples, in whole percent.
#include <cstdint>
#include <functional>

class clsCPUUsage {
public:
    // NtQuerySystemInformation(class, buffer, size): status 0 on success.  The
    // real call by default; tests hand in their own answers.
    using SystemQuery = std::function<long(unsigned long infoClass, void* buffer, unsigned long size)>;

    explicit clsCPUUsage(SystemQuery query = {});

    // Where the basic information record (class 0) holds the processor count.
    static constexpr unsigned long kProcessorCountOffset = sizeof(void*) == 8 ? 56 : 40;

    void Initialize();
    // Load in percent since the previous sample, or -1 when a system query
    // failed (the stored sample then stays).  Not clamped.
    long Query();
    void Terminate() {}

private:
    SystemQuery query_;
    int64_t previousIdle_ = 0;  // 100-ns units
    int64_t previousTime_ = 0;
};

// Small pieces the recorder benchmarks share.
#pragma once

#include <sys/resource.h>

#include <functional>

#include "platform/MainLoop.h"

namespace orvan::bench {

// The recorder posts its outcomes to the main loop; a benchmark that only waits on futures drops them.
class NoMainLoop final : public MainLoop {
public:
    void post(std::function<void()>) override {}
};

inline double cpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User and system time of this process so far.
inline double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

}  // namespace orvan::bench

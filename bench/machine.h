// What the figures were taken on, and the timing helpers.
#ifndef QVORK_BENCH_MACHINE_H
#define QVORK_BENCH_MACHINE_H

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace qvork_bench {

struct Machine {
    int cores = 0;
    std::string cpu;
    std::string kernel;
    std::string fileSystem; // of the work folder: type and device
    long long memoryMiB = 0;
};

// The 1, 5 and 15 minute load averages, as /proc/loadavg gives them.
std::string LoadAverage();

Machine DescribeMachine(const std::filesystem::path &workDir);

using Clock = std::chrono::steady_clock;

inline double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// One timed run: wall-clock seconds and the CPU seconds (user + system) of
// the process doing the work. The machine may be shared, so the CPU time is
// printed next to the wall time as a check that contention did not make a
// ratio.
struct Sample {
    double wall = 0;
    double cpu = 0;
};

// This process's CPU seconds so far.
double ProcessCpuSeconds();

class Stopwatch {
  public:
    Stopwatch() : wall_(Clock::now()), cpu_(ProcessCpuSeconds()) {}
    Sample Elapsed() const {
        return {SecondsBetween(wall_, Clock::now()), ProcessCpuSeconds() - cpu_};
    }

  private:
    Clock::time_point wall_;
    double cpu_;
};

// Median, smallest and largest of a set of timings, in seconds.
struct Timing {
    double median = 0, min = 0, max = 0;
    int runs = 0;
};
Timing Summarise(std::vector<double> seconds);

// "12.3 ms", "1.234 s", "850 us".
std::string FormatSeconds(double seconds);
std::string FormatBytes(double bytes);

} // namespace qvork_bench

#endif

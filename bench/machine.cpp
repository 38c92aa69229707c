#include "machine.h"

#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace qvork_bench {

namespace {

std::string CpuModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            size_t colon = line.find(':');
            if (colon != std::string::npos) {
                size_t start = line.find_first_not_of(" \t", colon + 1);
                return start == std::string::npos ? "" : line.substr(start);
            }
        }
    }
    return "unknown";
}

// The mount that holds `path`: the longest mount point that is a prefix.
std::string FileSystemOf(const std::filesystem::path &path) {
    std::error_code error;
    std::string target = std::filesystem::weakly_canonical(path, error).string();
    std::ifstream mounts("/proc/self/mounts");
    std::string line, best, bestPoint;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, point, type;
        if (!(fields >> device >> point >> type))
            continue;
        bool prefix = target.compare(0, point.size(), point) == 0 &&
                      (target.size() == point.size() || point == "/" || target[point.size()] == '/');
        if (prefix && point.size() >= bestPoint.size()) {
            bestPoint = point;
            best = type + " (" + device + " on " + point + ")";
        }
    }
    return best.empty() ? "unknown" : best;
}

} // namespace

Machine DescribeMachine(const std::filesystem::path &workDir) {
    Machine machine;
    machine.cores = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
    machine.cpu = CpuModel();
    struct utsname name;
    if (uname(&name) == 0)
        machine.kernel = std::string(name.sysname) + " " + name.release + " " + name.machine;
    machine.fileSystem = FileSystemOf(workDir);
    machine.memoryMiB =
        static_cast<long long>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE) / (1024 * 1024);
    return machine;
}

double ProcessCpuSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(file >> one >> five >> fifteen))
        return "unknown";
    return one + " " + five + " " + fifteen;
}

Timing Summarise(std::vector<double> seconds) {
    Timing timing;
    if (seconds.empty())
        return timing;
    std::sort(seconds.begin(), seconds.end());
    size_t n = seconds.size();
    timing.median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
    timing.min = seconds.front();
    timing.max = seconds.back();
    timing.runs = static_cast<int>(n);
    return timing;
}

std::string FormatSeconds(double seconds) {
    char text[32];
    if (seconds >= 1)
        std::snprintf(text, sizeof text, "%.3f s", seconds);
    else if (seconds >= 1e-3)
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f us", seconds * 1e6);
    return text;
}

std::string FormatBytes(double bytes) {
    char text[32];
    if (bytes >= 1 << 20)
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1 << 20));
    else if (bytes >= 1 << 10)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / (1 << 10));
    else
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
}

} // namespace qvork_bench

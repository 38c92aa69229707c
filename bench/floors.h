// The floors the plug-in is measured against: bare loops doing the same file
// system work with nothing else around it, and the plain-file commands a
// user would run instead (cp -r, cat).
#ifndef QVORK_BENCH_FLOORS_H
#define QVORK_BENCH_FLOORS_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qvork_bench {

// open, one 1 KiB pread at each offset, close. Returns a checksum of the
// bytes read so the loop cannot be dropped.
uint64_t PreadRecords(const std::filesystem::path &file, const std::vector<int64_t> &starts);

// open, read the whole file in 256 KiB blocks, close: the physical floor
// of anything that reads every record. Returns a checksum.
uint64_t ReadSequentially(const std::filesystem::path &file);

// readdir over the folder; for each name beginning with "cache": open (by
// its full path), pread 4 bytes at 0, 2 at 8, 4 at 32 and the name at 36,
// close. With `statEach`, also fstatat each entry in the folder (what a
// directory search that reports sizes and times must do). Returns the
// number of sites read.
long ReadRootHeaders(const std::filesystem::path &icache, bool statEach);

// Runs a command (argv[0] looked up in PATH), with stdout sent to
// `stdoutFile` when it is not empty. Returns its exit status, -1 when it
// could not be started; *cpuSeconds gets the command's user + system time.
int RunCommand(const std::vector<std::string> &argv, const std::string &stdoutFile = "",
               double *cpuSeconds = nullptr);

} // namespace qvork_bench

#endif

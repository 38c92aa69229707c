// Files on disk as tests look at them: a file's bytes, a folder's whole tree
// as one comparable map, and byte patterns to store as bodies. No GoogleTest
// here, so the scenario program outside it can use these too.
#ifndef QVORK_TESTS_SUPPORT_TEST_FILES_H
#define QVORK_TESTS_SUPPORT_TEST_FILES_H

#include <cstddef>
#include <filesystem>
#include <atomic>
#include <map>
#include <string>
#include <thread>

namespace qvork_test {

// The whole file, byte for byte; empty when it cannot be read.
std::string ReadWhole(const std::filesystem::path &path);

// `size` bytes of every value (zero included), different per seed.
std::string Pattern(size_t size, unsigned seed);

// What DiskTree gives a folder instead of contents.
inline constexpr char kDirMark[] = "<dir>";

// Everything under `root`: relative path ("/" separated) to the file's bytes,
// kDirMark for a folder, "<link>" for a symbolic link (never followed: it
// may name a device). Empty when `root` does not exist.
std::map<std::string, std::string> DiskTree(const std::filesystem::path &root);

#ifndef _WIN32
// A FIFO at `path` whose other end a thread opens every few milliseconds, so
// a reader blocked in open goes on (to end of file): Opened() tells of it.
class WatchedFifo {
  public:
    explicit WatchedFifo(const std::filesystem::path &path);
    ~WatchedFifo();
    bool Opened() const { return opened_; }

  private:
    std::atomic<bool> stop_{false}, opened_{false};
    std::thread thread_;
};
#endif

} // namespace qvork_test

#endif

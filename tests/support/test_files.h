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
// A FIFO at `path` and a thread that plays its other end every few
// milliseconds: as a writer it lets a reader blocked in open go on (to end
// of file), as a reader it takes what a blocked writer writes. So code that
// opens the FIFO ends instead of hanging, and Opened() tells that it did.
class WatchedFifo {
  public:
    enum Side { ReaderComes, WriterComes };
    WatchedFifo(const std::filesystem::path &path, Side side);
    ~WatchedFifo();
    bool Opened() const { return opened_; }

  private:
    std::filesystem::path path_;
    Side side_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> opened_{false};
    std::thread thread_;
};

// While it lives, no file of the process may grow past `bytes`: a write
// beyond fails (EFBIG) as on a full disk, for regular files alike.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(unsigned long bytes);
    ~FileSizeLimit();

  private:
    unsigned long savedSoft_ = 0;
    void (*savedSignal_)(int) = nullptr;
};
#endif

} // namespace qvork_test

#endif

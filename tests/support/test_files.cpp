#include "test_files.h"

#include <fstream>
#include <iterator>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#endif

namespace qvork_test {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 9)) & 0xFF);
    return bytes;
}

std::map<std::string, std::string> DiskTree(const fs::path &root) {
    std::map<std::string, std::string> tree;
    std::error_code error;
    if (!fs::exists(root, error)) return tree;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).generic_string();
        if (entry.is_symlink())
            tree[relative] = "<link>";
        else
            tree[relative] = entry.is_directory() ? kDirMark : ReadWhole(entry.path());
    }
    return tree;
}

#ifndef _WIN32
WatchedFifo::WatchedFifo(const fs::path &path) {
    if (mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo " + path.string());
    thread_ = std::thread([this, path] {
        for (; !stop_; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK); // only while a reader is in
            if (fd >= 0) opened_ = true, close(fd);
        }
    });
}

WatchedFifo::~WatchedFifo() {
    stop_ = true;
    thread_.join();
}
#endif

} // namespace qvork_test

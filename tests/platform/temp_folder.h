// Helpers of the platform tests: a temporary folder removed with everything
// in it, whole-file reads and writes, and a child process that can run as an
// unprivileged user (CI runs as root, whom permission bits do not stop).
#ifndef QVORK_TESTS_PLATFORM_TEMP_FOLDER_H
#define QVORK_TESTS_PLATFORM_TEMP_FOLDER_H

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

class TempFolder {
public:
    TempFolder() : path_(testing::TempDir() + "qvork_platform_XXXXXX")
    {
        EXPECT_NE(mkdtemp(path_.data()), nullptr);
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        for (auto &entry : std::filesystem::recursive_directory_iterator(path_, ignored))
            if (entry.is_directory(ignored))
                chmod(entry.path().c_str(), 0700); // give back what a test took away
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string &Path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteWholeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadWholeFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Runs `body` in a forked child, as user and group 65534 ("nobody") when the
// tests run as root and `unprivileged` is set; returns its exit status or -1.
inline int RunInChild(const std::function<int()> &body, bool unprivileged)
{
    pid_t child = fork();
    if (child == 0) {
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

#endif

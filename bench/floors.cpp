#include "floors.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

extern char **environ;

namespace qvork_bench {

namespace {

uint32_t Le32(const unsigned char *p) {
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

} // namespace

uint64_t PreadRecords(const std::filesystem::path &file, const std::vector<int64_t> &starts) {
    int fd = open(file.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + file.string());
    unsigned char window[1024];
    uint64_t sum = 0;
    for (int64_t start : starts) {
        ssize_t got = pread(fd, window, sizeof window, start);
        if (got >= 20)
            sum += Le32(window) + Le32(window + 16);
    }
    close(fd);
    return sum;
}

uint64_t ReadSequentially(const std::filesystem::path &file) {
    int fd = open(file.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + file.string());
    static unsigned char block[256 * 1024];
    uint64_t sum = 0;
    ssize_t got;
    while ((got = read(fd, block, sizeof block)) > 0)
        sum += block[0] + static_cast<uint64_t>(got);
    close(fd);
    return sum;
}

long ReadRootHeaders(const std::filesystem::path &icache, bool statEach) {
    DIR *dir = opendir(icache.c_str());
    if (dir == nullptr)
        throw std::runtime_error("cannot open " + icache.string());
    int folder = dirfd(dir);
    long sites = 0;
    while (struct dirent *entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, "cache", 5) != 0 || std::strchr(entry->d_name, '.'))
            continue;
        if (statEach) {
            struct stat info;
            if (fstatat(folder, entry->d_name, &info, 0) != 0)
                continue;
        }
        // By path, as a program working with file names does (the plug-in
        // works through the Win32 file API, which knows no folder handles).
        std::string path = icache.string() + "/" + entry->d_name;
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        unsigned char magic[4], count[2], length[4];
        char name[260];
        if (pread(fd, magic, 4, 0) == 4 && pread(fd, count, 2, 8) == 2 &&
            pread(fd, length, 4, 32) == 4) {
            uint32_t nameLength = Le32(length);
            if (nameLength > sizeof name)
                nameLength = sizeof name;
            if (pread(fd, name, nameLength, 36) == (ssize_t)nameLength)
                sites++;
        }
        close(fd);
    }
    closedir(dir);
    return sites;
}

int RunCommand(const std::vector<std::string> &argv, const std::string &stdoutFile,
               double *cpuSeconds) {
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stdoutFile.empty())
        posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -1;
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid)
        return -1;
    if (cpuSeconds != nullptr)
        *cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace qvork_bench

// Temporary folders for tests: a unique folder under the system's temporary
// folder, removed with everything in it when the object goes (unless
// QVORK_KEEP_TEMP is set, for looking at what a failing test left), and a
// NetSonic cache laid out in one: <root>/icache/ holding the site files.
#ifndef QVORK_TESTS_SUPPORT_TEMP_CACHE_H
#define QVORK_TESTS_SUPPORT_TEMP_CACHE_H

#include <filesystem>
#include <string>
#include <vector>

#include "site_writer.h"

namespace qvork_test {

class TempDir {
  public:
    explicit TempDir(const std::string &prefix = "qvork-test");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

class CacheDir {
  public:
    CacheDir();

    // <root>: what NetSonic's "CachePath" names (no "icache" in it).
    const std::filesystem::path &Root() const { return root_.Path(); }
    // <root>/icache/: where the site files lie.
    const std::filesystem::path &Folder() const { return folder_; }
    // The "CachePath" value for this cache, in the platform's own spelling.
    std::string CachePathValue() const { return Root().string(); }

    std::filesystem::path PathOf(const std::string &fileName) const { return folder_ / fileName; }
    SiteFileImage WriteSite(const std::string &fileName, const std::string &siteName,
                            const std::vector<SiteRecord> &records = {},
                            const SiteFileOptions &options = {}) const;
    void WriteRaw(const std::string &fileName, const std::string &bytes) const;
    void MakeFolder(const std::string &name) const;
    void Remove(const std::string &name) const;
    // Size of a file in the cache folder.
    unsigned long long SizeOf(const std::string &fileName) const;

  private:
    TempDir root_;
    std::filesystem::path folder_;
};

} // namespace qvork_test

#endif

#include "temp_cache.h"

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <system_error>

namespace qvork_test {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string &prefix) {
    static std::mt19937_64 random{std::random_device{}()};
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = base / (prefix + "-" + std::to_string(random() % 1000000000000ULL));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TempDir::~TempDir() {
    if (path_.empty() || std::getenv("QVORK_KEEP_TEMP")) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

CacheDir::CacheDir() : root_("qvork-cache"), folder_(root_.Path() / "icache") {
    fs::create_directory(folder_);
}

SiteFileImage CacheDir::WriteSite(const std::string &fileName, const std::string &siteName,
                                  const std::vector<SiteRecord> &records,
                                  const SiteFileOptions &options) const {
    return WriteSiteFile(PathOf(fileName), siteName, records, options);
}

void CacheDir::WriteRaw(const std::string &fileName, const std::string &bytes) const {
    WriteBytes(PathOf(fileName), bytes);
}

void CacheDir::MakeFolder(const std::string &name) const { fs::create_directories(PathOf(name)); }

void CacheDir::Remove(const std::string &name) const { fs::remove_all(PathOf(name)); }

unsigned long long CacheDir::SizeOf(const std::string &fileName) const {
    return fs::file_size(PathOf(fileName));
}

} // namespace qvork_test

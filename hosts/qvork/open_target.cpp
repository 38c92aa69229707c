// Choosing how the panel is opened for one run.
#include "hosts/qvork/open_target.h"

#include <filesystem>

namespace qvork_host {

bool CacheOptionIsFile(const CommandLine &line) {
    std::error_code ignored;
    return line.cacheFolder && !std::filesystem::is_directory(*line.cacheFolder, ignored) &&
           std::filesystem::exists(*line.cacheFolder, ignored);
}

bool ChooseOpenTarget(const CommandLine &line, OpenTarget &target, std::string &error) {
    target = OpenTarget{};
    if (line.command == "open") {
        target.kind = OpenTarget::kCommandLine;
        target.path = line.operands.at(0);
        return true;
    }
    if (!CacheOptionIsFile(line)) {
        return true;
    }
    if (line.command.empty() || line.command == "rm" || line.command == "warc") {
        error = "--cache " + *line.cacheFolder + " is a file: a site file is opened by ls, get, " +
                "header and panel, not stored as the cache (rm and warc need a cache folder)";
        return false;
    }
    target.kind = OpenTarget::kSiteFile;
    target.path = *line.cacheFolder;
    return true;
}

} // namespace qvork_host

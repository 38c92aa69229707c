// Choosing how the panel is opened for one run.
#include "hosts/qvork/open_target.h"

#include <strings.h>

#include <filesystem>

namespace qvork_host {

std::string BackslashProblem(const std::string &path) {
    std::error_code ignored;
    const std::string whole = std::filesystem::absolute(path, ignored).lexically_normal().string();
    if (path.find('\\') == std::string::npos && whole.find('\\') == std::string::npos) {
        return std::string();
    }
    return "the path '" + (whole.empty() ? path : whole) + "' holds a \\, which the plug-in " +
           "reads as a folder separator: give a path without one (a symbolic link to the " +
           "place will do)";
}

std::string SiteFilesFolder(const std::string &folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder + "/icache", error)) {
        return folder + "/icache"; // the plug-in takes the name as spelt first
    }
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (strcasecmp(entry->path().filename().c_str(), "icache") == 0 &&
            entry->is_directory(ignored)) {
            return entry->path().string();
        }
    }
    return folder;
}

namespace {

// True when `folder` has no "icache" of its own but holds site files
// ("cache*" entries): the icache folder itself, copied from an old disk and
// perhaps renamed. The plug-in opens it as "vork:FOLDER" opens it.
bool HoldsSiteFiles(const std::string &folder) {
    std::error_code error;
    bool siteFiles = false;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (strcasecmp(name.c_str(), "icache") == 0) {
            return false;
        }
        siteFiles = siteFiles || strncasecmp(name.c_str(), "cache", 5) == 0;
    }
    return siteFiles;
}

} // namespace

bool CacheOptionIsFile(const CommandLine &line) {
    std::error_code ignored;
    return line.cacheFolder && !std::filesystem::is_directory(*line.cacheFolder, ignored) &&
           std::filesystem::exists(*line.cacheFolder, ignored);
}

bool ChooseOpenTarget(const CommandLine &line, OpenTarget &target, std::string &error) {
    target = OpenTarget{};
    const std::string given = line.command == "open" ? line.operands.at(0)
                              : line.cacheFolder     ? *line.cacheFolder
                                                     : std::string();
    error = BackslashProblem(given);
    if (!error.empty()) {
        return false;
    }
    if (line.command == "open") {
        target.kind = OpenTarget::kCommandLine;
        target.path = line.operands.at(0);
        return true;
    }
    std::error_code ignored;
    if (line.cacheFolder && std::filesystem::is_directory(*line.cacheFolder, ignored) &&
        HoldsSiteFiles(*line.cacheFolder)) {
        target.kind = OpenTarget::kCommandLine;
        target.path = *line.cacheFolder;
        return true;
    }
    if (!CacheOptionIsFile(line)) {
        return true;
    }
    if (line.command == "rm" || line.command == "warc") {
        error = "--cache " + *line.cacheFolder + " is a file: a site file is opened by ls, get, " +
                "header and panel, not stored as the cache (rm and warc need a cache folder)";
        return false;
    }
    target.kind = OpenTarget::kSiteFile;
    target.path = *line.cacheFolder;
    return true;
}

} // namespace qvork_host

// Builds the demo cache from the readable text kept in demo/: the manifest
// demo/cache.txt names each cache file and its source, each site folder's
// site.txt lists its stored responses (URL, header file, body file). The
// site files are written with the test harness's site-file writer, so the
// demo and the tests share one idea of the format. demo/README.md describes
// the text formats.
#ifndef QVORK_TOOLS_DEMO_CACHE_H
#define QVORK_TOOLS_DEMO_CACHE_H

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace qvork_demo {

// One file written into <out>/icache/.
struct DemoFile {
    std::string fileName;  // cache1, cache2, ...
    std::string siteName;  // empty for a raw file
    size_t responses = 0;  // stored responses (0 for a raw file)
    size_t size = 0;       // bytes written
};

// Writes <out>/icache/ from the demo folder and returns what it wrote.
// <out> is marked as a demo folder; an existing <out>/icache/ without that
// mark is never touched (it could be a real cache). Throws
// std::runtime_error naming the file and line of any fault in the text.
std::vector<DemoFile> BuildDemoCache(const std::filesystem::path &demoDir,
                                     const std::filesystem::path &outDir);

// Body decoders: whitespace and lines starting with '#' are ignored.
std::string DecodeHex(const std::string &text);
std::string DecodeBase64(const std::string &text);

} // namespace qvork_demo

#endif

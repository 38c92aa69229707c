// The benchmark's test data, written with the test harness's site-file
// writer: the two 65533-record sites of the load benchmark (deep and wide),
// the 200 MB site of the copy benchmark with the same bodies as plain files,
// and a cache folder of many small sites for the root listing.
#ifndef QVORK_BENCH_BENCH_SITES_H
#define QVORK_BENCH_BENCH_SITES_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qvork_bench {

namespace fs = std::filesystem;

enum class Shape {
    Deep,         // folders of 100 files: /dNNN/fNN.html
    Wide,         // every file in the site's top folder: /fNNNNN.html
    CraftedOld,   // as Wide, named to pile up in 512 slots under the index's old hash
    CraftedFixed, // the same under the keyed hash with a key fixed in advance
};

const char *ShapeName(Shape shape);

// A site file for the load benchmark and what a load of it builds.
struct LoadSite {
    fs::path file;
    std::string name;            // the site name, as the root listing shows it
    std::vector<int64_t> starts; // every record's file offset, in file order
    long records = 0;
    long nodes = 0;     // tree nodes a load makes, the synthetic site node included
    long nameBytes = 0; // bytes of the names the tree owns, terminators included
    int64_t fileBytes = 0;
};

LoadSite WriteLoadSite(const fs::path &icache, const std::string &fileName, Shape shape,
                       int records, int bodyBytes);
// The description of a load site without writing it (for child processes).
LoadSite DescribeLoadSite(const fs::path &icache, const std::string &fileName, Shape shape,
                          int records, int bodyBytes);

// The copy benchmark's site and the same bodies as plain files:
// <plainRoot>/<site name>/dNN/fNN.html.
struct CopySite {
    fs::path file;
    std::string name;
    fs::path plainTree; // the folder `cp -r` copies
    int files = 0;
    int64_t bodyBytes = 0; // all bodies together
};

CopySite WriteCopySite(const fs::path &icache, const fs::path &plainRoot, int files,
                       int filesPerFolder, int bodyBytes);
CopySite DescribeCopySite(const fs::path &icache, const fs::path &plainRoot, int files,
                          int filesPerFolder, int bodyBytes);

// `count` small site files cache1..cacheN, one stored response each.
void WriteManySites(const fs::path &icache, int count);

// Points NetSonic's "CachePath" (in the registry file the layer reads) at
// `root`, whose icache/ holds the site files. Throws on failure.
void SetCachePath(const fs::path &root);

// Bytes and files under a folder, for checking a copy.
struct TreeSize {
    long files = 0;
    int64_t bytes = 0;
};
TreeSize MeasureTree(const fs::path &root);

} // namespace qvork_bench

#endif

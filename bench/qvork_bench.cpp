// qvork_bench: qVORK at the format's limits, measured side by side with the
// I/O floors in one run, as ratios.
//   (a) loading a 65533-record site (SetDirectory into it + GetFindData of its
//       top), deep (folders of 100) and wide (one folder), against a bare
//       loop of the same 1 KiB preads at the same record offsets; and wide
//       sites whose names were crafted to collide in the sibling index
//       (under its old hash, and under its keyed hash with a fixed key),
//       against the wide site of ordinary names;
//   (b) copying a 200 MB site through GetFiles against `cp -r` of the same
//       bodies as plain files, and against `cat` of the site file;
//   (c) the root listing of 10000 site files against readdir + open + the
//       same small reads + close;
//   (d) heap per tree node of (a), in a fresh process per shape;
//   (e) exporting the site of (b) with `qvork warc` to .warc.gz against
//       `gzip -6` of the site file.
// Every timing is the median of several runs after one untimed run that
// warms the page cache (dropping it needs root).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_host.h"
#include "bench_sites.h"
#include "floors.h"
#include "heap_counter.h"
#include "machine.h"

#ifndef QVORK_MODULE_PATH
#error "QVORK_MODULE_PATH must name qvork.so (set by bench/CMakeLists.txt)"
#endif
#ifndef QVORK_PROGRAM
#error "QVORK_PROGRAM must name the qvork program (set by bench/CMakeLists.txt)"
#endif
#ifndef QVORK_BENCH_BUILD
#define QVORK_BENCH_BUILD "unknown build"
#endif

namespace qvork_bench {
namespace {

const char kUsage[] =
    "usage: qvork_bench [options]\n"
    "  --work-root DIR   make the work folder (sites, copies) under DIR\n"
    "                    (default: $TMPDIR or /tmp); removed at the end\n"
    "  --keep            keep the work folder\n"
    "  --runs N          timed runs per figure, after one warm-up (default 7)\n"
    "  --only LIST       run only these of a,b,c,d,e (default abcde)\n"
    "  --quick           smaller copy and root benchmarks, 3 runs (a smoke test)\n"
    "  --module PATH     the plug-in module (default: the one built with the bench)\n"
    "  --prepare-only    write the test data, print the work folder, keep it\n"
    "  --profile OP --work DIR\n"
    "                    run one operation once on prepared data, for a profiler:\n"
    "                    load-deep, load-wide, copy-root, copy-inside, root\n";

struct Options {
    fs::path workRoot;
    fs::path work; // --work: prepared data
    std::string module = QVORK_MODULE_PATH;
    int runs = 7;
    std::string only = "abcde";
    bool keep = false;
    bool quick = false;
    bool prepareOnly = false;
    std::string profile;
    std::string memoryChild; // internal: deep or wide
    // Sizes.
    int loadRecords = 65533; // the most a site file holds
    int loadBody = 512;
    int copyFiles = 2000;
    int copyPerFolder = 100;
    int copyBody = 100000;
    int rootSites = 10000;
};

struct Layout {
    fs::path work, registry, load, copy, plain, root, out;
    fs::path Icache(const fs::path &cacheRoot) const { return cacheRoot / "icache"; }
};

Layout LayoutOf(const fs::path &work) {
    Layout layout;
    layout.work = work;
    layout.registry = work / "registry.reg";
    layout.load = work / "load";
    layout.copy = work / "copy";
    layout.plain = work / "plain";
    layout.root = work / "root";
    layout.out = work / "out";
    return layout;
}

struct Data {
    LoadSite deep, wide, craftedOld, craftedFixed;
    CopySite copy;
};

// One line of the closing summary.
struct Verdict {
    std::string what;
    double figure;
    double limit;
    std::string unit; // "x" for ratios
};
std::vector<Verdict> Verdicts;

bool Wants(const Options &options, char which) {
    return options.only.find(which) != std::string::npos;
}

int ParseInt(const char *text, const char *what) {
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || value <= 0 || value > 1000000)
        throw std::runtime_error(std::string("bad value for ") + what + ": " + text);
    return static_cast<int>(value);
}

Options Parse(int argc, char **argv) {
    Options options;
    const char *tmp = std::getenv("TMPDIR");
    options.workRoot = tmp != nullptr && *tmp != 0 ? tmp : "/tmp";
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc)
                throw std::runtime_error(std::string(name) + " needs a value");
            return argv[++i];
        };
        if (arg == "--work-root")
            options.workRoot = value("--work-root");
        else if (arg == "--work")
            options.work = value("--work");
        else if (arg == "--keep")
            options.keep = true;
        else if (arg == "--runs")
            options.runs = ParseInt(value("--runs"), "--runs");
        else if (arg == "--only")
            options.only = value("--only");
        else if (arg == "--quick")
            options.quick = true;
        else if (arg == "--module")
            options.module = value("--module");
        else if (arg == "--prepare-only")
            options.prepareOnly = true;
        else if (arg == "--profile")
            options.profile = value("--profile");
        else if (arg == "--memory-child")
            options.memoryChild = value("--memory-child");
        else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else
            throw std::runtime_error("unknown option " + arg + "\n" + kUsage);
    }
    if (options.quick) {
        options.runs = 3;
        options.copyFiles = 200;
        options.rootSites = 1000;
    }
    return options;
}

// --- Test data ------------------------------------------------------------------

// Offsets as little-endian 64-bit numbers, one after another.
void WriteStarts(const fs::path &file, const std::vector<int64_t> &starts) {
    FILE *out = std::fopen(file.c_str(), "wb");
    if (out == nullptr)
        throw std::runtime_error("cannot write " + file.string());
    bool written = std::fwrite(starts.data(), sizeof starts[0], starts.size(), out) ==
                   starts.size();
    if (std::fclose(out) != 0 || !written)
        throw std::runtime_error("cannot write " + file.string());
}

Data Prepare(const Options &options, const Layout &layout, bool write) {
    Data data;
    auto start = Clock::now();
    fs::path loadIcache = layout.Icache(layout.load);
    fs::path copyIcache = layout.Icache(layout.copy);
    fs::path rootIcache = layout.Icache(layout.root);
    if (!write) {
        data.deep = DescribeLoadSite(loadIcache, "cache1", Shape::Deep, options.loadRecords,
                                     options.loadBody);
        data.wide = DescribeLoadSite(loadIcache, "cache2", Shape::Wide, options.loadRecords,
                                     options.loadBody);
        data.copy = DescribeCopySite(copyIcache, layout.plain, options.copyFiles,
                                     options.copyPerFolder, options.copyBody);
        return data;
    }
    std::cout << "writing the test data into " << layout.work.string() << " ..." << std::flush;
    if (Wants(options, 'a') || Wants(options, 'd')) {
        fs::create_directories(loadIcache);
        data.deep = WriteLoadSite(loadIcache, "cache1", Shape::Deep, options.loadRecords,
                                  options.loadBody);
        data.wide = WriteLoadSite(loadIcache, "cache2", Shape::Wide, options.loadRecords,
                                  options.loadBody);
        // The record offsets, for the floor of the Windows build run under Wine.
        WriteStarts(layout.work / "deep.starts", data.deep.starts);
        WriteStarts(layout.work / "wide.starts", data.wide.starts);
    }
    if (Wants(options, 'a')) {
        data.craftedOld = WriteLoadSite(loadIcache, "cache3", Shape::CraftedOld,
                                        options.loadRecords, options.loadBody);
        data.craftedFixed = WriteLoadSite(loadIcache, "cache4", Shape::CraftedFixed,
                                          options.loadRecords, options.loadBody);
    }
    if (Wants(options, 'b') || Wants(options, 'e')) {
        fs::create_directories(copyIcache);
        data.copy = WriteCopySite(copyIcache, layout.plain, options.copyFiles,
                                  options.copyPerFolder, options.copyBody);
    }
    if (Wants(options, 'c')) {
        fs::create_directories(rootIcache);
        WriteManySites(rootIcache, options.rootSites);
    }
    sync();
    std::cout << " " << FormatSeconds(SecondsBetween(start, Clock::now())) << "\n";
    return data;
}

// --- Reporting ------------------------------------------------------------------

std::string Ratio(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", ratio);
    return text;
}

// The runs of one action: wall-clock and CPU timings.
struct Figure {
    Timing wall;
    Timing cpu;
};

Figure FigureOf(const std::vector<Sample> &samples) {
    std::vector<double> wall, cpu;
    for (const Sample &sample : samples) {
        wall.push_back(sample.wall);
        cpu.push_back(sample.cpu);
    }
    return {Summarise(wall), Summarise(cpu)};
}

void PrintRow(const std::string &label, const Figure &figure) {
    std::printf("    %-44s %10s [%s .. %s]  cpu %s\n", label.c_str(),
                FormatSeconds(figure.wall.median).c_str(), FormatSeconds(figure.wall.min).c_str(),
                FormatSeconds(figure.wall.max).c_str(), FormatSeconds(figure.cpu.median).c_str());
}

// The wall-clock ratio is the figure; the CPU ratio is shown beside it.
void PrintRatio(const std::string &label, const Figure &figure, const Figure &floor, double limit) {
    double ratio = figure.wall.median / floor.wall.median;
    double cpu = floor.cpu.median > 0 ? figure.cpu.median / floor.cpu.median : 0;
    bool met = ratio <= limit;
    std::printf("    %-44s %-8s (target <= %.1fx) %-6s  cpu %s\n", label.c_str(),
                Ratio(ratio).c_str(), limit, met ? "MET" : "MISSED", Ratio(cpu).c_str());
    Verdicts.push_back({label, ratio, limit, "x"});
}

void PrintInfoRatio(const std::string &label, const Figure &figure, const Figure &floor) {
    double cpu = floor.cpu.median > 0 ? figure.cpu.median / floor.cpu.median : 0;
    std::printf("    %-44s %-8s %-27s cpu %s\n", label.c_str(),
                Ratio(figure.wall.median / floor.wall.median).c_str(), "", Ratio(cpu).c_str());
}

// Runs each timed action `runs` times after one warm-up, the actions
// interleaved so that drift touches them alike. Returns one Figure each.
std::vector<Figure> Measure(int runs, const std::vector<std::function<Sample()>> &actions) {
    std::vector<std::vector<Sample>> samples(actions.size());
    for (const auto &action : actions)
        action(); // warm-up
    for (int run = 0; run < runs; run++) {
        for (size_t i = 0; i < actions.size(); i++)
            samples[i].push_back(actions[i]());
    }
    std::vector<Figure> figures;
    for (const auto &set : samples)
        figures.push_back(FigureOf(set));
    return figures;
}

// --- (a) loading a site ----------------------------------------------------------

struct OpenRoot {
    HANDLE handle = nullptr;
    PluginPanelItem *items = nullptr;
    int count = 0;
};

OpenRoot OpenAtRoot(BenchHost &host) {
    OpenRoot root;
    root.handle = host.OpenPlugin(0, 0);
    if (!host.GetFindData(root.handle, &root.items, &root.count, 0))
        throw std::runtime_error("the root listing failed");
    return root;
}

// SetDirectory into the site and GetFindData of its top: the timed part.
// *items gets the number of top-level items and *listing the time of
// GetFindData alone.
Sample LoadOnce(BenchHost &host, const OpenRoot &root, const LoadSite &site, int *items,
                Sample *listingTime = nullptr) {
    int index = FindRootItem(root.items, root.count, site.name);
    if (index < 0)
        throw std::runtime_error("the root listing has no " + site.name);
    host.ShowPanel(root.items, root.count, index);
    PluginPanelItem *listing = nullptr;
    int count = 0;
    Stopwatch load;
    int entered = host.SetDirectory(root.handle, site.name.c_str(), 0);
    Stopwatch list;
    int listed = entered && host.GetFindData(root.handle, &listing, &count, 0);
    Sample listTime = list.Elapsed();
    Sample seconds = load.Elapsed();
    if (listingTime != nullptr)
        *listingTime = listTime;
    if (!entered || !listed)
        throw std::runtime_error("could not enter " + site.name);
    host.FreeFindData(root.handle, listing, count);
    host.SetDirectory(root.handle, "..", 0);
    if (items != nullptr)
        *items = count;
    return seconds;
}

void BenchLoad(BenchHost &host, const Options &options, const Layout &layout, const Data &data) {
    std::printf("\n(a) Loading a %d-record site: SetDirectory into it + GetFindData of its top\n",
                options.loadRecords);
    std::printf("    floor: open, one 1 KiB pread at each record's offset, close; beside it\n"
                "    the physical floor: one sequential read of the whole file (256 KiB blocks)\n");
    SetCachePath(layout.load);
    OpenRoot root = OpenAtRoot(host);
    int deepItems = 0, wideItems = 0;
    long messagesBefore = host.Counters().messages;
    LoadOnce(host, root, data.deep, &deepItems);
    long messagesPerLoad = host.Counters().messages - messagesBefore;
    LoadOnce(host, root, data.wide, &wideItems);
    // What the floor read, kept so the reads cannot be optimised away.
    volatile uint64_t sink = 0;
    std::vector<Sample> deepListing, wideListing;
    auto floor = [&](const LoadSite &site) {
        Stopwatch watch;
        sink = sink + PreadRecords(site.file, site.starts);
        return watch.Elapsed();
    };
    auto sequential = [&](const LoadSite &site) {
        Stopwatch watch;
        sink = sink + ReadSequentially(site.file);
        return watch.Elapsed();
    };
    auto load = [&](const LoadSite &site, std::vector<Sample> &listings) {
        Sample listing;
        Sample seconds = LoadOnce(host, root, site, nullptr, &listing);
        listings.push_back(listing);
        return seconds;
    };
    std::vector<Sample> craftedListing;
    std::vector<Figure> t = Measure(
        options.runs, {[&] { return floor(data.deep); }, [&] { return load(data.deep, deepListing); },
                       [&] { return floor(data.wide); }, [&] { return load(data.wide, wideListing); },
                       [&] { return sequential(data.deep); }, [&] { return sequential(data.wide); },
                       [&] { return load(data.craftedOld, craftedListing); },
                       [&] { return load(data.craftedFixed, craftedListing); }});
    host.ClosePlugin(root.handle);
    std::printf("    site files: %s each (%d-byte bodies); top folder: deep %d items, wide %d\n",
                FormatBytes(static_cast<double>(data.deep.fileBytes)).c_str(), options.loadBody,
                deepItems, wideItems);
    std::printf("    progress: %ld host Message calls per load\n", messagesPerLoad);
    PrintRow("floor, deep site file", t[0]);
    PrintRow("sequential read, deep site file", t[4]);
    PrintRow("qVORK, deep (folders of 100)", t[1]);
    PrintRow("  of which GetFindData of the top", FigureOf(deepListing));
    PrintRow("floor, wide site file", t[2]);
    PrintRow("sequential read, wide site file", t[5]);
    PrintRow("qVORK, wide (one folder)", t[3]);
    PrintRow("  of which GetFindData of the top", FigureOf(wideListing));
    PrintRow("qVORK, wide, names crafted: old hash", t[6]);
    PrintRow("qVORK, wide, names crafted: fixed key", t[7]);
    PrintRatio("(a) deep: qVORK / floor", t[1], t[0], 1.0);
    PrintInfoRatio("(a) deep: qVORK / sequential read", t[1], t[4]);
    PrintRatio("(a) wide: qVORK / floor", t[3], t[2], 1.0);
    PrintInfoRatio("(a) wide: qVORK / sequential read", t[3], t[5]);
    PrintRatio("(a) crafted (old hash) / ordinary names", t[6], t[3], 1.5);
    PrintRatio("(a) crafted (fixed key) / ordinary names", t[7], t[3], 1.5);
}

// --- (b) copying a site -------------------------------------------------------------

void FreshFolder(const fs::path &folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    sync(); // the previous run's writes are not left to the next one
}

Sample CopyThroughPlugin(BenchHost &host, HANDLE handle, PluginPanelItem *items, int count,
                         const fs::path &destination) {
    FreshFolder(destination);
    std::string text = destination.string();
    std::vector<char> path(text.begin(), text.end());
    path.push_back(0);
    Stopwatch watch;
    int result = host.GetFiles(handle, items, count, 0, path.data(), 0);
    Sample seconds = watch.Elapsed();
    if (!result)
        throw std::runtime_error("GetFiles reported a failure");
    return seconds;
}

// The command's own CPU time stands for the run's; ours, spawning and
// waiting, is left out.
Sample TimeCommand(const std::vector<std::string> &argv, const fs::path &destination,
                   const std::string &stdoutFile = "") {
    FreshFolder(destination);
    Stopwatch watch;
    double cpu = 0;
    int status = RunCommand(argv, stdoutFile, &cpu);
    Sample seconds = watch.Elapsed();
    seconds.cpu = cpu;
    if (status != 0)
        throw std::runtime_error(argv[0] + " failed");
    return seconds;
}

void CheckCopy(const fs::path &tree, const CopySite &site, const char *what) {
    TreeSize size = MeasureTree(tree);
    if (size.files != site.files || size.bytes != site.bodyBytes)
        std::printf("    WARNING: %s wrote %ld files, %lld bytes; expected %d, %lld\n", what,
                    size.files, static_cast<long long>(size.bytes), site.files,
                    static_cast<long long>(site.bodyBytes));
}

void BenchCopy(BenchHost &host, const Options &options, const Layout &layout, const Data &data) {
    const CopySite &site = data.copy;
    std::printf("\n(b) Copying a %s site (%d files of %d bytes, folders of %d) into the same "
                "file system\n",
                FormatBytes(static_cast<double>(site.bodyBytes)).c_str(), site.files,
                options.copyBody, options.copyPerFolder);
    std::printf("    floors: cp -r of the same bodies as plain files; cat of the site file to "
                "a file\n");
    SetCachePath(layout.copy);
    OpenRoot root = OpenAtRoot(host);
    int index = FindRootItem(root.items, root.count, site.name);
    if (index < 0)
        throw std::runtime_error("the root listing has no " + site.name);
    fs::path outRoot = layout.out / "qvork-root";
    fs::path outInside = layout.out / "qvork-inside";
    fs::path outCp = layout.out / "cp";
    fs::path outCat = layout.out / "cat";
    auto fromRoot = [&] {
        return CopyThroughPlugin(host, root.handle, &root.items[index], 1, outRoot);
    };
    auto fromInside = [&] {
        host.ShowPanel(root.items, root.count, index);
        if (!host.SetDirectory(root.handle, site.name.c_str(), 0))
            throw std::runtime_error("could not enter " + site.name);
        PluginPanelItem *items = nullptr;
        int count = 0;
        host.GetFindData(root.handle, &items, &count, 0);
        Sample seconds = CopyThroughPlugin(host, root.handle, items, count, outInside);
        host.FreeFindData(root.handle, items, count);
        host.SetDirectory(root.handle, "..", 0);
        return seconds;
    };
    auto cp = [&] { return TimeCommand({"cp", "-r", site.plainTree.string(), outCp.string()}, outCp); };
    auto cat = [&] {
        return TimeCommand({"cat", site.file.string()}, outCat, (outCat / "site").string());
    };
    std::vector<Figure> t = Measure(options.runs, {cp, cat, fromRoot, fromInside});
    CheckCopy(outRoot / site.name, site, "GetFiles from the root");
    CheckCopy(outInside, site, "GetFiles from inside");
    CheckCopy(outCp, site, "cp -r");
    host.ClosePlugin(root.handle);
    fs::remove_all(layout.out);
    PrintRow("floor: cp -r of the plain files", t[0]);
    PrintRow("floor: cat site file > file", t[1]);
    PrintRow("qVORK GetFiles, the site from the root", t[2]);
    PrintRow("qVORK GetFiles, its top folders from inside", t[3]);
    PrintRatio("(b) from the root: qVORK / cp -r", t[2], t[0], 1.1);
    PrintRatio("(b) from inside: qVORK / cp -r", t[3], t[0], 1.1);
    PrintInfoRatio("(b) from the root: qVORK / cat", t[2], t[1]);
    PrintInfoRatio("(b) from inside: qVORK / cat", t[3], t[1]);
    PrintInfoRatio("(b) cp -r / cat", t[0], t[1]);
}

// --- (e) exporting a site as WARC -------------------------------------------------

// The console host's archive export runs as its own program, as a user runs
// it; at most 3 runs, since each compresses the whole site.
void BenchWarc(const Options &options, const Layout &layout, const Data &data) {
    const CopySite &site = data.copy;
    std::printf("\n(e) Exporting the site of (b) as a web archive: qvork warc SITE -o FILE.warc.gz\n");
    std::printf("    floor: gzip -6 of the site file\n");
    SetCachePath(layout.copy);
    std::fflush(stdout);
    fs::path archive = layout.out / "warc" / "site.warc.gz";
    fs::path gzipped = layout.out / "gzip" / "site.gz";
    auto qvork = [&] {
        return TimeCommand({QVORK_PROGRAM, "warc", site.name, "-o", archive.string()},
                           archive.parent_path());
    };
    auto gzip = [&] {
        return TimeCommand({"gzip", "-6", "-c", site.file.string()}, gzipped.parent_path(),
                           gzipped.string());
    };
    std::vector<Figure> t = Measure(std::min(options.runs, 3), {gzip, qvork});
    std::printf("    site file %s; archive %s, gzip -6 %s\n",
                FormatBytes(static_cast<double>(fs::file_size(site.file))).c_str(),
                FormatBytes(static_cast<double>(fs::file_size(archive))).c_str(),
                FormatBytes(static_cast<double>(fs::file_size(gzipped))).c_str());
    fs::remove_all(layout.out);
    PrintRow("floor: gzip -6 site file > file", t[0]);
    PrintRow("qvork warc SITE -o FILE.warc.gz", t[1]);
    PrintRatio("(e) qvork warc / gzip -6", t[1], t[0], 1.5);
}

// --- (c) the root listing ---------------------------------------------------------

void BenchRoot(BenchHost &host, const Options &options, const Layout &layout) {
    std::printf("\n(c) Root listing of a cache folder of %d site files: OpenPlugin + GetFindData\n",
                options.rootSites);
    std::printf("    floor: readdir; per file open (full path), pread 4 at 0, 2 at 8, 4 at 32, the "
                "name, close\n");
    SetCachePath(layout.root);
    fs::path icache = layout.Icache(layout.root);
    long listed = 0, floorSites = 0;
    auto plugin = [&] {
        Stopwatch watch;
        HANDLE handle = host.OpenPlugin(0, 0);
        PluginPanelItem *items = nullptr;
        int count = 0;
        host.GetFindData(handle, &items, &count, 0);
        Sample seconds = watch.Elapsed();
        listed = count;
        host.ClosePlugin(handle);
        return seconds;
    };
    auto floor = [&] {
        Stopwatch watch;
        floorSites = ReadRootHeaders(icache, false);
        return watch.Elapsed();
    };
    auto floorStat = [&] {
        Stopwatch watch;
        ReadRootHeaders(icache, true);
        return watch.Elapsed();
    };
    std::vector<Figure> t = Measure(options.runs, {floor, floorStat, plugin});
    if (listed != options.rootSites || floorSites != options.rootSites)
        std::printf("    WARNING: qVORK listed %ld sites, the floor read %ld; expected %d\n", listed,
                    floorSites, options.rootSites);
    PrintRow("floor", t[0]);
    PrintRow("floor with an fstatat per entry (info)", t[1]);
    PrintRow("qVORK OpenPlugin + GetFindData", t[2]);
    PrintRatio("(c) qVORK / floor", t[2], t[0], 1.3);
    PrintInfoRatio("(c) qVORK / floor with fstatat", t[2], t[1]);
}

// --- (d) memory per node -------------------------------------------------------------

// In a fresh process (so no earlier benchmark's freed memory is reused):
// open the root, then load one site with heap counting on. Prints one line
// of key=value pairs for the parent.
int MemoryChild(BenchHost &host, const Options &options, const Layout &layout, const Data &data) {
    const LoadSite &site = options.memoryChild == "wide" ? data.wide : data.deep;
    SetCachePath(layout.load);
    OpenRoot root = OpenAtRoot(host);
    int index = FindRootItem(root.items, root.count, site.name);
    if (index < 0)
        throw std::runtime_error("the root listing has no " + site.name);
    host.ShowPanel(root.items, root.count, index);
    ResetHeapPeak();
    ResetResidentPeak();
    int64_t resident = ResidentBytes();
    HeapFigures before = HeapNow();
    if (!host.SetDirectory(root.handle, site.name.c_str(), 0))
        throw std::runtime_error("could not enter " + site.name);
    HeapFigures loaded = HeapNow();
    int64_t residentPeak = ResidentPeakBytes();
    PluginPanelItem *items = nullptr;
    int count = 0;
    host.GetFindData(root.handle, &items, &count, 0);
    HeapFigures listed = HeapNow();
    host.FreeFindData(root.handle, items, count);
    host.SetDirectory(root.handle, "..", 0);
    HeapFigures left = HeapNow();
    std::printf("nodes=%ld names=%ld live=%lld peak=%lld blocks=%lld listing=%lld items=%d "
                "resident=%lld left=%lld\n",
                site.nodes, site.nameBytes, static_cast<long long>(loaded.live - before.live),
                static_cast<long long>(loaded.peak - before.live),
                static_cast<long long>(loaded.blocks - before.blocks),
                static_cast<long long>(listed.live - loaded.live), count,
                static_cast<long long>(residentPeak - resident),
                static_cast<long long>(left.live - before.live));
    host.ClosePlugin(root.handle);
    return 0;
}

std::map<std::string, long long> RunMemoryChild(const Options &options, const Layout &layout,
                                                const char *shape) {
    std::string command = "/proc/" + std::to_string(getpid()) + "/exe --memory-child " + shape +
                          " --work '" + layout.work.string() + "' --module '" + options.module +
                          "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot start the memory child");
    char line[512] = {0};
    bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    int status = pclose(pipe);
    if (!got || status != 0)
        throw std::runtime_error(std::string("the memory child for ") + shape + " failed");
    std::map<std::string, long long> values;
    std::istringstream fields(line);
    std::string field;
    while (fields >> field) {
        size_t equals = field.find('=');
        if (equals != std::string::npos)
            values[field.substr(0, equals)] = std::atoll(field.c_str() + equals + 1);
    }
    return values;
}

void BenchMemory(const Options &options, const Layout &layout) {
    std::printf("\n(d) Memory of (a) per tree node (heap: usable sizes of live blocks, counted "
                "through malloc/free)\n");
    std::printf("    %-6s %7s %11s %12s %12s %12s %12s %12s\n", "shape", "nodes", "names",
                "tree (kept)", "load peak", "per node", "peak/node", "resident/n");
    for (const char *shape : {"deep", "wide"}) {
        std::map<std::string, long long> v = RunMemoryChild(options, layout, shape);
        double nodes = static_cast<double>(v["nodes"]);
        double kept = (v["live"] - v["names"]) / nodes;
        double peak = (v["peak"] - v["names"]) / nodes;
        double resident = (v["resident"] - v["names"]) / nodes;
        std::printf("    %-6s %7lld %11s %12s %12s %10.1f B %10.1f B %10.1f B\n", shape,
                    v["nodes"], FormatBytes(static_cast<double>(v["names"])).c_str(),
                    FormatBytes(static_cast<double>(v["live"])).c_str(),
                    FormatBytes(static_cast<double>(v["peak"])).c_str(), kept, peak, resident);
        std::printf("           %lld allocations during the load; the top listing: %d items, %s "
                    "(%.0f B each); %lld bytes left after leaving\n",
                    v["blocks"], static_cast<int>(v["items"]),
                    FormatBytes(static_cast<double>(v["listing"])).c_str(),
                    v["items"] > 0 ? static_cast<double>(v["listing"]) / v["items"] : 0.0,
                    v["left"]);
        char label[64];
        std::snprintf(label, sizeof label, "(d) %s: load peak per node beyond its name", shape);
        bool met = peak <= 64;
        std::printf("    %-44s %.1f B (target <= 64 B) %s\n", label, peak, met ? "MET" : "MISSED");
        Verdicts.push_back({label, peak, 64, "B"});
        std::snprintf(label, sizeof label, "(d) %s: kept per node beyond its name", shape);
        std::printf("    %-44s %.1f B (target <= 64 B) %s\n", label, kept,
                    kept <= 64 ? "MET" : "MISSED");
        Verdicts.push_back({label, kept, 64, "B"});
    }
    std::printf("    names: the bytes of the names the tree owns, terminators included; "
                "resident/n: growth of the resident set (VmHWM) per node beyond the names\n");
}

// --- Profiling -------------------------------------------------------------------------

int Profile(BenchHost &host, const Options &options, const Layout &layout, const Data &data) {
    const std::string &op = options.profile;
    auto start = Clock::now();
    if (op == "load-deep" || op == "load-wide") {
        SetCachePath(layout.load);
        OpenRoot root = OpenAtRoot(host);
        LoadOnce(host, root, op == "load-deep" ? data.deep : data.wide, nullptr);
        host.ClosePlugin(root.handle);
    } else if (op == "copy-root" || op == "copy-inside") {
        SetCachePath(layout.copy);
        OpenRoot root = OpenAtRoot(host);
        int index = FindRootItem(root.items, root.count, data.copy.name);
        if (index < 0)
            throw std::runtime_error("no prepared copy site in " + layout.work.string());
        fs::path out = layout.out / "profile";
        if (op == "copy-root") {
            CopyThroughPlugin(host, root.handle, &root.items[index], 1, out);
        } else {
            host.ShowPanel(root.items, root.count, index);
            host.SetDirectory(root.handle, data.copy.name.c_str(), 0);
            PluginPanelItem *items = nullptr;
            int count = 0;
            host.GetFindData(root.handle, &items, &count, 0);
            CopyThroughPlugin(host, root.handle, items, count, out);
            host.FreeFindData(root.handle, items, count);
        }
        host.ClosePlugin(root.handle);
        fs::remove_all(layout.out);
    } else if (op == "root") {
        SetCachePath(layout.root);
        OpenRoot root = OpenAtRoot(host);
        host.ClosePlugin(root.handle);
    } else {
        throw std::runtime_error("unknown --profile operation " + op);
    }
    std::printf("%s: %s\n", op.c_str(), FormatSeconds(SecondsBetween(start, Clock::now())).c_str());
    return 0;
}

// --- The run ---------------------------------------------------------------------------

void PrintSummary() {
    std::printf("\nSummary (load average at the end: %s)\n", LoadAverage().c_str());
    for (const Verdict &verdict : Verdicts) {
        bool met = verdict.figure <= verdict.limit;
        if (verdict.unit == "x")
            std::printf("    %-44s %7.2fx  <= %.1fx  %s\n", verdict.what.c_str(), verdict.figure,
                        verdict.limit, met ? "MET" : "MISSED");
        else
            std::printf("    %-44s %7.1f B  <= %.0f B   %s\n", verdict.what.c_str(), verdict.figure,
                        verdict.limit, met ? "MET" : "MISSED");
    }
}

int Run(int argc, char **argv) {
    Options options = Parse(argc, argv);
    if (!options.memoryChild.empty())
        StartHeapCounting(); // before anything the child measures is allocated

    bool ownWork = options.work.empty();
    if (ownWork) {
        if (!options.profile.empty())
            throw std::runtime_error("--profile needs --work DIR with prepared data");
        fs::create_directories(options.workRoot);
        std::string pattern = (options.workRoot / "qvork-bench.XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data()) == nullptr)
            throw std::runtime_error("cannot make a work folder under " + options.workRoot.string());
        options.work = buffer.data();
    }
    options.work = fs::absolute(options.work);
    Layout layout = LayoutOf(options.work);
    // The plug-in finds the cache through the registry; ours is a file here.
    setenv("QVORK_REGISTRY", layout.registry.c_str(), 1);

    bool writeData = ownWork && options.memoryChild.empty();
    bool keep = options.keep || options.prepareOnly || !ownWork;
    try {
        if (writeData && options.prepareOnly)
            options.only = "abcde";
        Data data = Prepare(options, layout, writeData);
        if (options.prepareOnly) {
            std::printf("prepared: %s\n", layout.work.c_str());
            return 0;
        }
        BenchHost host(options.module);
        if (!options.memoryChild.empty())
            return MemoryChild(host, options, layout, data);
        if (!options.profile.empty())
            return Profile(host, options, layout, data);

        Machine machine = DescribeMachine(layout.work);
        std::printf("\nqVORK benchmarks\n");
        std::printf("machine: %d cores, %s, %lld MiB; %s\n", machine.cores, machine.cpu.c_str(),
                    machine.memoryMiB, machine.kernel.c_str());
        std::printf("load average at the start: %s\n", LoadAverage().c_str());
        std::printf("work folder: %s on %s\n", layout.work.c_str(), machine.fileSystem.c_str());
        std::printf("build: %s; module %s\n", QVORK_BENCH_BUILD, options.module.c_str());
        std::printf("method: wall-clock median [min .. max] of %d runs after one untimed warm-up "
                    "run, page cache warm, host services doing nothing; ratios of the medians. "
                    "cpu: median user+system time of the process doing the work (the check "
                    "against a busy machine)\n",
                    options.runs);
        std::fflush(stdout);
        if (Wants(options, 'a'))
            BenchLoad(host, options, layout, data);
        std::fflush(stdout);
        if (Wants(options, 'b'))
            BenchCopy(host, options, layout, data);
        std::fflush(stdout);
        if (Wants(options, 'c'))
            BenchRoot(host, options, layout);
        std::fflush(stdout);
        if (Wants(options, 'd'))
            BenchMemory(options, layout);
        std::fflush(stdout);
        if (Wants(options, 'e'))
            BenchWarc(options, layout, data);
        PrintSummary();
    } catch (...) {
        if (ownWork && !keep)
            fs::remove_all(layout.work);
        throw;
    }
    if (ownWork && !keep)
        fs::remove_all(layout.work);
    else if (ownWork)
        std::printf("kept the work folder %s\n", layout.work.c_str());
    return 0;
}

} // namespace
} // namespace qvork_bench

int main(int argc, char **argv) {
    try {
        return qvork_bench::Run(argc, argv);
    } catch (const std::exception &error) {
        std::fflush(stdout);
        std::fprintf(stderr, "qvork_bench: %s\n", error.what());
        return 1;
    }
}

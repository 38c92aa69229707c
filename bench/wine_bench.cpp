// qvork_wine_bench: the Windows build of the benchmarks, run under Wine
// against qVORK.dll, as the file manager's users run the plug-in. It works
// on the test data qvork_bench --prepare-only wrote (scripts/bench.sh --wine
// does both) and sets each figure beside a floor made of the Win32 calls a
// program doing the same I/O by hand would make:
//   (a) load: SetDirectory into a 65533-record site + GetFindData of its top,
//       against CreateFileA + one SetFilePointer and ReadFile of 1 KiB per
//       record (beside it: the whole file read in 256 KiB blocks);
//   (b) copy: GetFiles of the copy site from the root, against CopyFileA of
//       the same bodies as plain files;
//   (c) root listing: OpenPlugin + GetFindData of 10000 site files, against
//       FindFirstFileA/FindNextFileA + CreateFileA, ReadFile of the header and
//       of the name, CloseHandle.
// Medians of several runs after one warm-up; CPU time (user + kernel of this
// process, as Wine accounts it) beside the wall time.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/entry_points.h"

namespace {

// --- Timing -------------------------------------------------------------------

struct Sample {
    double wall = 0, cpu = 0;
};

double WallSeconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME &t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7; // in ticks of 10 to 16 ms under Wine
}

class Stopwatch {
  public:
    Stopwatch() : wall_(WallSeconds()), cpu_(CpuSeconds()) {}
    Sample Elapsed() const { return {WallSeconds() - wall_, CpuSeconds() - cpu_}; }

  private:
    double wall_, cpu_;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Figure {
    double wall = 0, cpu = 0, min = 0, max = 0;
};

// Each action `runs` times after one warm-up, interleaved.
std::vector<Figure> Measure(int runs, const std::vector<std::function<Sample()>> &actions) {
    std::vector<std::vector<Sample>> samples(actions.size());
    for (const auto &action : actions)
        action();
    for (int run = 0; run < runs; run++) {
        for (size_t i = 0; i < actions.size(); i++)
            samples[i].push_back(actions[i]());
    }
    std::vector<Figure> figures;
    for (const auto &set : samples) {
        std::vector<double> wall, cpu;
        for (const Sample &s : set) {
            wall.push_back(s.wall);
            cpu.push_back(s.cpu);
        }
        figures.push_back({Median(wall), Median(cpu), *std::min_element(wall.begin(), wall.end()),
                           *std::max_element(wall.begin(), wall.end())});
    }
    return figures;
}

std::string Seconds(double seconds) {
    char text[32];
    if (seconds >= 1)
        std::snprintf(text, sizeof text, "%.3f s", seconds);
    else
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1e3);
    return text;
}

void PrintRow(const char *label, const Figure &f) {
    std::printf("    %-44s %10s [%s .. %s]  cpu %s\n", label, Seconds(f.wall).c_str(),
                Seconds(f.min).c_str(), Seconds(f.max).c_str(), Seconds(f.cpu).c_str());
}

struct Verdict {
    std::string what;
    double ratio, limit;
};
std::vector<Verdict> Verdicts;

void PrintRatio(const char *label, const Figure &figure, const Figure &floor, double limit) {
    double ratio = figure.wall / floor.wall;
    // Wine counts CPU time in scheduler ticks: below a few ticks a ratio
    // says nothing.
    char cpu[16] = "n/a";
    if (floor.cpu >= 0.05 && figure.cpu >= 0)
        std::snprintf(cpu, sizeof cpu, "%.2fx", figure.cpu / floor.cpu);
    if (limit > 0) {
        std::printf("    %-44s %5.2fx   (target <= %.1fx) %-6s  cpu %s\n", label, ratio, limit,
                    ratio <= limit ? "MET" : "MISSED", cpu);
        Verdicts.push_back({label, ratio, limit});
    } else {
        std::printf("    %-44s %5.2fx   %-27s cpu %s\n", label, ratio, "", cpu);
    }
}

// --- The host -------------------------------------------------------------------

PluginPanelItem *PanelItems = nullptr;
int PanelCount = 0, PanelCurrent = 0;

int WINAPI Message(int, DWORD, const char *, const char *const *, int, int) { return 0; }
int WINAPI Dialog(int, int, int, int, int, const char *, FarDialogItem *, int) { return -1; }
const char *WINAPI GetMsg(int, int) { return ""; }
HANDLE WINAPI SaveScreen(int, int, int, int) { return reinterpret_cast<HANDLE>(1); }
void WINAPI RestoreScreen(HANDLE) {}
int WINAPI Viewer(const char *, const char *, int, int, int, int, DWORD) { return FALSE; }
int WINAPI Control(HANDLE, int command, void *param) {
    if (command != FCTL_GETPANELINFO || param == nullptr)
        return FALSE;
    PanelInfo *panel = static_cast<PanelInfo *>(param);
    std::memset(panel, 0, sizeof *panel);
    panel->Plugin = TRUE;
    panel->PanelItems = PanelItems;
    panel->ItemsNumber = PanelCount;
    panel->CurrentItem = PanelCurrent;
    return TRUE;
}

struct Module {
    OpenPluginFn OpenPlugin;
    ClosePluginFn ClosePlugin;
    GetFindDataFn GetFindData;
    FreeFindDataFn FreeFindData;
    SetDirectoryFn SetDirectory;
    GetFilesFn GetFiles;
};

template <typename Fn> Fn Resolve(HMODULE module, const char *name) {
    FARPROC address = GetProcAddress(module, name);
    if (address == nullptr)
        throw std::runtime_error(std::string("the module has no entry point ") + name);
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(address));
}

Module Load(const std::string &path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        throw std::runtime_error("cannot load " + path);
    Module m;
    m.OpenPlugin = Resolve<OpenPluginFn>(module, "OpenPlugin");
    m.ClosePlugin = Resolve<ClosePluginFn>(module, "ClosePlugin");
    m.GetFindData = Resolve<GetFindDataFn>(module, "GetFindData");
    m.FreeFindData = Resolve<FreeFindDataFn>(module, "FreeFindData");
    m.SetDirectory = Resolve<SetDirectoryFn>(module, "SetDirectory");
    m.GetFiles = Resolve<GetFilesFn>(module, "GetFiles");
    static PluginStartupInfo info;
    std::memset(&info, 0, sizeof info);
    info.StructSize = sizeof info;
    std::strncpy(info.ModuleName, path.c_str(), sizeof info.ModuleName - 1);
    info.ModuleNumber = 1;
    info.RootKey = "Software\\qvork-bench\\Plugins";
    info.Dialog = Dialog;
    info.Message = Message;
    info.GetMsg = GetMsg;
    info.Control = Control;
    info.SaveScreen = SaveScreen;
    info.RestoreScreen = RestoreScreen;
    info.Viewer = Viewer;
    Resolve<SetStartupInfoFn>(module, "SetStartupInfo")(&info);
    return m;
}

// NetSonic's CachePath: the folder whose icache\ holds the site files.
void SetCachePath(const std::string &root) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\web3000\\netsonic", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the NetSonic registry key");
    LONG result = RegSetValueExA(key, "CachePath", 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(root.c_str()),
                                 static_cast<DWORD>(root.size() + 1));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("cannot set CachePath");
}

struct Root {
    HANDLE handle = nullptr;
    PluginPanelItem *items = nullptr;
    int count = 0;
};

Root OpenRoot(const Module &m) {
    Root root;
    root.handle = m.OpenPlugin(0, 0);
    if (!m.GetFindData(root.handle, &root.items, &root.count, 0))
        throw std::runtime_error("the root listing failed");
    return root;
}

// The root item read from the site file `fileName` (its Description).
int ItemOfFile(const Root &root, const char *fileName) {
    for (int i = 0; i < root.count; i++) {
        const char *description = root.items[i].Description;
        if (description != nullptr && std::strcmp(description, fileName) == 0)
            return i;
    }
    throw std::runtime_error(std::string("the root listing has no site from ") + fileName);
}

// --- Files ------------------------------------------------------------------------

std::vector<long long> ReadStarts(const std::string &path) {
    std::vector<long long> starts;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        throw std::runtime_error("cannot read " + path);
    long long start;
    while (std::fread(&start, sizeof start, 1, file) == 1)
        starts.push_back(start);
    std::fclose(file);
    return starts;
}

HANDLE OpenForReading(const std::string &path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

unsigned long long ReadRecords(const std::string &path, const std::vector<long long> &starts) {
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path);
    unsigned char window[1024];
    unsigned long long sum = 0;
    for (long long start : starts) {
        LONG high = static_cast<LONG>(start >> 32);
        DWORD got = 0;
        if (SetFilePointer(file, static_cast<LONG>(start & 0xFFFFFFFF), &high, FILE_BEGIN) !=
                INVALID_SET_FILE_POINTER &&
            ReadFile(file, window, sizeof window, &got, nullptr) && got >= 20)
            sum += window[0] + window[16];
    }
    CloseHandle(file);
    return sum;
}

unsigned long long ReadWhole(const std::string &path) {
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path);
    static unsigned char block[256 * 1024];
    unsigned long long sum = 0;
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
        sum += block[0] + got;
    CloseHandle(file);
    return sum;
}

long ReadRootHeaders(const std::string &icache) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((icache + "\\cache*.").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    long sites = 0;
    do {
        HANDLE file = OpenForReading(icache + "\\" + found.cFileName);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        unsigned char header[36];
        char name[MAX_PATH];
        DWORD got = 0;
        if (ReadFile(file, header, sizeof header, &got, nullptr) && got == sizeof header) {
            DWORD length = header[32] | header[33] << 8 | header[34] << 16 |
                           static_cast<DWORD>(header[35]) << 24;
            length = std::min<DWORD>(length, MAX_PATH - 1);
            if (ReadFile(file, name, length, &got, nullptr) && got == length)
                sites++;
        }
        CloseHandle(file);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return sites;
}

void RemoveTree(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// Copies the tree `from` into the new folder `to` with CopyFileA; returns the
// bytes copied.
long long CopyTree(const std::string &from, const std::string &to) {
    if (!CreateDirectoryA(to.c_str(), nullptr))
        throw std::runtime_error("cannot make " + to);
    long long bytes = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((from + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            bytes += CopyTree(from + "\\" + name, to + "\\" + name);
        } else {
            if (!CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), TRUE))
                throw std::runtime_error("CopyFileA failed on " + name);
            bytes += found.nFileSizeLow;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return bytes;
}

// Files and bytes under `path`.
void MeasureTree(const std::string &path, long *files, long long *bytes) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            MeasureTree(path + "\\" + name, files, bytes);
        } else {
            (*files)++;
            *bytes += found.nFileSizeLow;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The one folder inside `path` (the plain copy of the site's bodies).
std::string OnlyFolder(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    std::string folder;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != ".." && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                folder = path + "\\" + name;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (folder.empty())
        throw std::runtime_error("no folder in " + path);
    return folder;
}

// --- The benchmarks ------------------------------------------------------------------

void BenchLoad(const Module &m, const std::string &work, int runs) {
    std::printf("\n(a) Loading a 65533-record site: SetDirectory into it + GetFindData of its top\n"
                "    floor: CreateFileA, per record SetFilePointer + ReadFile of 1 KiB, "
                "CloseHandle; physical floor: ReadFile of the whole file in 256 KiB blocks\n");
    SetCachePath(work + "\\load");
    Root root = OpenRoot(m);
    for (const char *shape : {"deep", "wide"}) {
        const char *fileName = std::strcmp(shape, "deep") == 0 ? "cache1" : "cache2";
        std::string file = work + "\\load\\icache\\" + fileName;
        std::vector<long long> starts = ReadStarts(work + "\\" + shape + ".starts");
        int index = ItemOfFile(root, fileName);
        std::string site = root.items[index].FindData.cFileName;
        int listed = 0;
        auto plugin = [&] {
            PanelItems = root.items;
            PanelCount = root.count;
            PanelCurrent = index;
            PluginPanelItem *items = nullptr;
            int count = 0;
            Stopwatch watch;
            if (!m.SetDirectory(root.handle, site.c_str(), 0) ||
                !m.GetFindData(root.handle, &items, &count, 0))
                throw std::runtime_error("could not enter " + site);
            Sample seconds = watch.Elapsed();
            listed = count;
            m.FreeFindData(root.handle, items, count);
            m.SetDirectory(root.handle, "..", 0);
            return seconds;
        };
        auto floor = [&] {
            Stopwatch watch;
            ReadRecords(file, starts);
            return watch.Elapsed();
        };
        auto whole = [&] {
            Stopwatch watch;
            ReadWhole(file);
            return watch.Elapsed();
        };
        std::vector<Figure> t = Measure(runs, {floor, whole, plugin});
        std::printf("  %s: %zu records, %d items at the top\n", shape, starts.size(), listed);
        PrintRow("floor: SetFilePointer + ReadFile per record", t[0]);
        PrintRow("physical floor: sequential ReadFile", t[1]);
        PrintRow("qVORK SetDirectory + GetFindData", t[2]);
        std::string label = std::string("(a) ") + shape + ": qVORK / per-record floor";
        PrintRatio(label.c_str(), t[2], t[0], 1.0);
        label = std::string("(a) ") + shape + ": qVORK / physical floor";
        PrintRatio(label.c_str(), t[2], t[1], 0);
    }
    m.ClosePlugin(root.handle);
}

void BenchCopy(const Module &m, const std::string &work, int runs) {
    std::printf("\n(b) Copying the copy site through GetFiles from the root\n"
                "    floor: CopyFileA of the same bodies as plain files (folders made with "
                "CreateDirectoryA)\n");
    SetCachePath(work + "\\copy");
    Root root = OpenRoot(m);
    if (root.count != 1)
        throw std::runtime_error("the copy cache should hold one site");
    std::string plain = OnlyFolder(work + "\\plain");
    std::string out = work + "\\out";
    RemoveTree(out);
    CreateDirectoryA(out.c_str(), nullptr);
    std::string outPlugin = out + "\\qvork", outCopy = out + "\\copyfile";
    auto plugin = [&] {
        RemoveTree(outPlugin);
        CreateDirectoryA(outPlugin.c_str(), nullptr);
        std::vector<char> destination(outPlugin.begin(), outPlugin.end());
        destination.push_back(0);
        Stopwatch watch;
        if (!m.GetFiles(root.handle, root.items, 1, 0, destination.data(), 0))
            throw std::runtime_error("GetFiles reported a failure");
        return watch.Elapsed();
    };
    auto floor = [&] {
        RemoveTree(outCopy);
        Stopwatch watch;
        CopyTree(plain, outCopy);
        return watch.Elapsed();
    };
    std::vector<Figure> t = Measure(runs, {floor, plugin});
    long files[2] = {0, 0};
    long long bytes[2] = {0, 0};
    MeasureTree(outCopy, &files[0], &bytes[0]);
    MeasureTree(outPlugin, &files[1], &bytes[1]);
    std::printf("    CopyFileA wrote %ld files, %lld bytes; GetFiles %ld files, %lld bytes\n",
                files[0], bytes[0], files[1], bytes[1]);
    if (files[0] != files[1] || bytes[0] != bytes[1])
        std::printf("    WARNING: the copies differ\n");
    RemoveTree(out);
    m.ClosePlugin(root.handle);
    PrintRow("floor: CopyFileA of the plain files", t[0]);
    PrintRow("qVORK GetFiles, the site from the root", t[1]);
    PrintRatio("(b) qVORK / CopyFileA", t[1], t[0], 1.3);
}

void BenchRoot(const Module &m, const std::string &work, int runs) {
    std::printf("\n(c) Root listing of the cache folder of many site files: OpenPlugin + "
                "GetFindData\n"
                "    floor: FindFirstFileA/FindNextFileA; per file CreateFileA, ReadFile of the "
                "header and of the name, CloseHandle\n");
    SetCachePath(work + "\\root");
    std::string icache = work + "\\root\\icache";
    long listed = 0, read = 0;
    auto plugin = [&] {
        Stopwatch watch;
        HANDLE handle = m.OpenPlugin(0, 0);
        PluginPanelItem *items = nullptr;
        int count = 0;
        m.GetFindData(handle, &items, &count, 0);
        Sample seconds = watch.Elapsed();
        listed = count;
        m.ClosePlugin(handle);
        return seconds;
    };
    auto floor = [&] {
        Stopwatch watch;
        read = ReadRootHeaders(icache);
        return watch.Elapsed();
    };
    std::vector<Figure> t = Measure(runs, {floor, plugin});
    std::printf("    %ld sites listed, %ld read by the floor\n", listed, read);
    if (listed != read)
        std::printf("    WARNING: the counts differ\n");
    PrintRow("floor", t[0]);
    PrintRow("qVORK OpenPlugin + GetFindData", t[1]);
    PrintRatio("(c) qVORK / floor", t[1], t[0], 1.5);
}

int Run(int argc, char **argv) {
    std::string module, work, only = "abc";
    int runs = 5;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (i + 1 >= argc)
            throw std::runtime_error("usage: qvork_wine_bench --module DLL --work DIR "
                                     "[--runs N] [--only abc]");
        if (arg == "--module")
            module = argv[++i];
        else if (arg == "--work")
            work = argv[++i];
        else if (arg == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--only")
            only = argv[++i];
        else
            throw std::runtime_error("unknown option " + arg);
    }
    if (module.empty() || work.empty())
        throw std::runtime_error("--module and --work are needed");
    Module m = Load(module);
    std::printf("qVORK benchmarks under Wine: module %s, data %s\n"
                "method: wall-clock median [min .. max] of %d runs after one warm-up run; "
                "cpu: median user+kernel time of this process\n",
                module.c_str(), work.c_str(), runs);
    if (only.find('a') != std::string::npos)
        BenchLoad(m, work, runs);
    std::fflush(stdout);
    if (only.find('b') != std::string::npos)
        BenchCopy(m, work, runs);
    std::fflush(stdout);
    if (only.find('c') != std::string::npos)
        BenchRoot(m, work, runs);
    std::printf("\nSummary under Wine\n");
    for (const Verdict &v : Verdicts)
        std::printf("    %-44s %7.2fx  <= %.1fx  %s\n", v.what.c_str(), v.ratio, v.limit,
                    v.ratio <= v.limit ? "MET" : "MISSED");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception &error) {
        std::fflush(stdout);
        std::fprintf(stderr, "qvork_wine_bench: %s\n", error.what());
        return 1;
    }
}

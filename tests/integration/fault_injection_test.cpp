// Faults from outside the plug-in while it works: a destination that fills
// up or cannot be written, a site file that becomes unreadable, goes away or
// is cut short after the root listing was read, a cache folder that changes
// between the two walks of the root read, a temporary folder that takes no
// header file, and a registry file that cannot be written or is damaged.
// Each case checks that the user is told, that the call reports failure where
// something was not done, and that nothing else is lost or corrupted: other
// items still written, no partial output, the held listing intact.
//
// On Linux the module is the fault module, whose system calls the tests
// make fail (system_call_faults.h): a full, read-only or closed folder, a
// file that cannot be opened, as any user. A few cases meet the real thing
// as proof that the faults act as the world does: /dev/full, a folder closed
// to another user (nobody, when the test runs as root, for whom permissions
// deny nothing) and a small tmpfs in a mount namespace of the test process's
// own (skipped with its reason where no mount can be made).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "plugin_fixture.h"
#include "test_files.h"
#ifndef _WIN32
#include "system_call_faults.h"
#endif

#if defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
// GCC 12's sanitizer runtime now and then takes a dynamic TLS block (the
// module, loaded afresh for every test, has one) for the layout of a glibc
// older than 2.25, and LeakSanitizer's tracer then crashes at exit: a test
// that passed fails, which one depending on where the heap put things. The
// leak scan leaves dynamic TLS out (the module keeps no pointers there);
// ASAN_OPTIONS still overrides this.
extern "C" __attribute__((visibility("default"), used)) const char *__asan_default_options() {
    return "intercept_tls_get_addr=0";
}
#endif

namespace qvork_test {
namespace {

namespace fs = std::filesystem;

const int kF3 = 114;
const int kOkButton = 5;

// The host's panel played as in HostPanelTest, but a site is entered from
// the listing read afresh, and Shift+F3 is pressed on a named item.
class FaultTest : public HostPanelTest {
  protected:
#ifndef _WIN32
    FaultTest() { modulePath = FaultModulePath(); }

    // The faults of the loaded module, taken over at the first use.
    SystemCallFaults &Faults() {
        if (!faults) faults.emplace(*plugin);
        EXPECT_EQ(faults->Problem(), "");
        return *faults;
    }

    void TearDown() override {
        faults.reset();
        HostPanelTest::TearDown();
    }

    std::optional<SystemCallFaults> faults;
#endif

    void SetUp() override {
        HostPanelTest::SetUp();
        fs::create_directories(dest);
    }

    int Enter(const std::string &site) { return EnterFrom(List(), site); }

    int Get(std::vector<PluginPanelItem> &items, const fs::path &to) {
        std::string path = to.string();
        return plugin->GetFiles(panel, items.empty() ? nullptr : items.data(),
                                static_cast<int>(items.size()), 0, &path[0], 0);
    }
    int Get(std::vector<PluginPanelItem> &items) { return Get(items, dest); }

    int ShiftF3(const std::string &name) {
        ShowInPanel(List(), name);
        return plugin->ProcessKey(panel, kF3, PKF_SHIFT);
    }

    // The held root listing: where it lies, how many items, and each item's
    // name with its cache file name.
    struct HeldListing {
        const PluginPanelItem *items = nullptr;
        int count = 0;
        std::map<std::string, std::string> descriptions;
        bool operator==(const HeldListing &other) const {
            return items == other.items && count == other.count &&
                   descriptions == other.descriptions;
        }
    };
    HeldListing Held() {
        const Listing listing = ReadRoot();
        HeldListing held;
        held.items = listing.items;
        held.count = listing.count;
        for (const PluginPanelItem &item : listing) held.descriptions[NameOf(item)] = DescriptionOf(item);
        return held;
    }

    TempDir work{"qvork-faults"};
    fs::path dest = work.Path() / "out";
};

// ---- The root listing while the cache folder changes ------------------------------

// A host whose SaveScreen, called when the root read begins its progress box
// (after the counting walk, before the filling walk), first runs the test's
// change to the cache folder.
std::function<void()> betweenWalks;

HANDLE WINAPI SaveScreenBetweenWalks(int x1, int y1, int x2, int y2) {
    if (betweenWalks) {
        std::function<void()> change = std::move(betweenWalks);
        betweenWalks = nullptr;
        change();
    }
    return RecordingHost::Current()->SaveScreen(x1, y1, x2, y2);
}

struct FolderChange {
    const char *name;
    std::vector<int> before;     // cache<n> files present for the counting walk
    std::vector<int> removed;    // removed between the walks
    std::vector<int> added;      // written between the walks
    std::vector<int> toFolders;  // replaced by a folder of the same name
};

void PrintTo(const FolderChange &c, std::ostream *out) { *out << c.name; }

std::string SiteName(int n) { return "site" + std::to_string(n) + ".example"; }
std::string FileName(int n) { return "cache" + std::to_string(n); }

class RootListingChangeTest : public FaultTest, public ::testing::WithParamInterface<FolderChange> {
  protected:
    void TearDown() override {
        betweenWalks = nullptr;
        FaultTest::TearDown();
    }
};

TEST_P(RootListingChangeTest, ListsOnlyWhatTheFillingWalkFoundAndNoMoreThanCounted) {
    const FolderChange &c = GetParam();
    for (int n : c.before) cache.WriteSite(FileName(n), SiteName(n), {OkRecord("f.txt", "f")});
    betweenWalks = [&] {
        for (int n : c.removed) cache.Remove(FileName(n));
        for (int n : c.added) cache.WriteSite(FileName(n), SiteName(n), {OkRecord("f.txt", "f")});
        for (int n : c.toFolders) {
            cache.Remove(FileName(n));
            cache.MakeFolder(FileName(n));
        }
    };
    PluginStartupInfo info = host.StartupInfo();
    info.SaveScreen = SaveScreenBetweenWalks;
    plugin->SetStartupInfo(&info);

    const Listing listing = ReadRoot();
    ASSERT_EQ(listing.result, TRUE);
    ASSERT_NE(listing.items, nullptr);
    EXPECT_EQ(host.savedScreens.size(), 1u) << "the change ran between the walks";

    // What the filling walk can have found, and how much room was counted.
    std::set<std::string> present;
    for (int n : c.before) present.insert(FileName(n));
    for (int n : c.removed) present.erase(FileName(n));
    for (int n : c.added) present.insert(FileName(n));
    const size_t counted = c.before.size();
    const size_t expectedCount = std::min(counted, present.size());
    EXPECT_EQ(static_cast<size_t>(listing.count), expectedCount);

    std::set<std::string> folders;
    for (int n : c.toFolders) folders.insert(FileName(n));
    std::set<std::string> seen;
    for (const PluginPanelItem &item : listing) {
        const std::string name = NameOf(item);
        if (folders.count(name)) {
            // A folder that replaced a site: listed under its own name.
            EXPECT_EQ(DescriptionOf(item), "<none>");
            EXPECT_TRUE(seen.insert(name).second) << name << " listed twice";
            continue;
        }
        const std::string file = DescriptionOf(item);
        ASSERT_TRUE(present.count(file)) << name << " from " << file << " is not in the folder";
        EXPECT_EQ(name, SiteName(std::stoi(file.substr(5))));
        EXPECT_TRUE(seen.insert(file).second) << file << " listed twice";
    }

    // The listing is held as filled: the next read hands out the same items,
    // and every site in it can be entered.
    const Listing again = ReadRoot();
    EXPECT_EQ(again.items, listing.items);
    EXPECT_EQ(again.count, listing.count);
    std::vector<PluginPanelItem> shown(listing.begin(), listing.end());
    for (const PluginPanelItem &item : shown) {
        if (DescriptionOf(item) == "<none>") continue;
        ShowInPanel(shown, NameOf(item));
        ASSERT_EQ(plugin->SetDirectory(panel, NameOf(item).c_str(), 0), TRUE) << NameOf(item);
        EXPECT_EQ(Names(), std::vector<std::string>{"f.txt"});
        ASSERT_EQ(plugin->SetDirectory(panel, "..", 0), TRUE);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, RootListingChangeTest,
    ::testing::Values(FolderChange{"SitesAdded", {1, 2, 3}, {}, {4, 5, 6, 7}, {}},
                      FolderChange{"SitesRemoved", {1, 2, 3, 4}, {2, 3}, {}, {}},
                      FolderChange{"AllRemoved", {1, 2, 3}, {1, 2, 3}, {}, {}},
                      FolderChange{"OneGoneOneNew", {1, 2, 3}, {2}, {7}, {}},
                      FolderChange{"FromNothingToThree", {}, {}, {1, 2, 3}, {}},
                      FolderChange{"SiteBecomesAFolder", {1, 2, 3}, {}, {}, {2}}),
    [](const auto &info) { return std::string(info.param.name); });

#ifndef _WIN32
// ---- Linux: other users, small file systems ------------------------------------------

const uid_t kNobody = 65534;

// Makes the calls in its scope run without privileges. As root the
// effective user and group become nobody's (65534, no supplementary groups)
// until the guard goes; as anyone else the calls already run without them.
class Unprivileged {
  public:
    Unprivileged() {
        if (geteuid() != 0) return;
        const int count = getgroups(0, nullptr);
        groups_.resize(count > 0 ? static_cast<size_t>(count) : 0);
        if (count > 0 && getgroups(count, groups_.data()) != count) groups_.clear();
        if (setgroups(0, nullptr) != 0 || setegid(kNobody) != 0 || seteuid(kNobody) != 0) {
            error_ = std::string("cannot become nobody: ") + std::strerror(errno);
            Restore();
            return;
        }
        const fs::path temp = fs::temp_directory_path();
        if (access(temp.c_str(), R_OK | W_OK | X_OK) != 0) {
            error_ = "nobody cannot use the temporary folder " + temp.string();
            Restore();
            return;
        }
        switched_ = true;
    }
    ~Unprivileged() {
        if (switched_) Restore();
    }
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

    const std::string &Error() const { return error_; }

  private:
    void Restore() {
        if (seteuid(0) != 0 || setegid(0) != 0 ||
            setgroups(groups_.size(), groups_.empty() ? nullptr : groups_.data()) != 0)
            std::abort(); // the rest of the run would be someone else's
    }

    std::vector<gid_t> groups_;
    bool switched_ = false;
    std::string error_;
};

#define RUN_UNPRIVILEGED(guard)                                                          \
    Unprivileged guard;                                                                    \
    if (!guard.Error().empty()) {                                                          \
        GTEST_SKIP() << guard.Error();                                                     \
    }                                                                                      \
    static_assert(true, "")

// Why no tmpfs can be mounted here, or empty when one can: the process moves
// into a mount namespace of its own once (what `unshare -m` does), so the
// mounts are seen by nothing else and go when the process ends.
std::string MountNamespaceProblem() {
    static const std::string problem = [] {
        if (unshare(CLONE_NEWNS) != 0)
            return std::string("cannot make a mount namespace (unshare: ") + std::strerror(errno) +
                   "): needs root or CAP_SYS_ADMIN";
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("cannot make the mounts private: ") + std::strerror(errno);
        return std::string();
    }();
    return problem;
}

// A tmpfs of `bytes` bytes on a fresh folder, unmounted when the object goes.
class SmallTmpfs {
  public:
    explicit SmallTmpfs(size_t bytes) : folder_("qvork-tmpfs") {
        problem_ = MountNamespaceProblem();
        if (!problem_.empty()) return;
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
        if (mount("tmpfs", folder_.Path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
            problem_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallTmpfs() {
        if (mounted_) umount2(folder_.Path().c_str(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs &) = delete;
    SmallTmpfs &operator=(const SmallTmpfs &) = delete;

    const std::string &Problem() const { return problem_; }
    const fs::path &Path() const { return folder_.Path(); }

  private:
    TempDir folder_;
    std::string problem_;
    bool mounted_ = false;
};

#define MOUNT_OR_SKIP(fs)                                                                \
    if (!(fs).Problem().empty()) {                                                         \
        GTEST_SKIP() << (fs).Problem();                                                    \
    }                                                                                      \
    static_assert(true, "")

// Sets an environment variable for one scope.
class EnvOverride {
  public:
    EnvOverride(const char *name, const std::string &value) : name_(name) {
        if (const char *previous = std::getenv(name)) previous_ = previous;
        setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (previous_)
            setenv(name_, previous_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char *name_;
    std::optional<std::string> previous_;
};

void SetMode(const fs::path &path, mode_t mode) { ASSERT_EQ(chmod(path.c_str(), mode), 0) << path; }

// The cache readable by nobody too, whatever the umask.
void OpenToEveryone(const CacheDir &cache) {
    SetMode(cache.Root(), 0755);
    SetMode(cache.Folder(), 0755);
    for (const fs::directory_entry &entry : fs::directory_iterator(cache.Folder()))
        SetMode(entry.path(), entry.is_directory() ? 0755 : 0644);
}

// ---- The destination fills up ---------------------------------------------------

// Links to /dev/full at two target names of whole sites copied from the
// root: each is replaced by its file, never written through; the device and
// every other file and site are as they should be.
TEST_F(FaultTest, LinksToAFullDeviceInAWholeSiteCopyAreReplaced) {
    const std::string big = Pattern(100001, 1);
    cache.WriteSite("cache1", "s.example",
                    {OkRecord("big.bin", big), OkRecord("small.txt", "fine"),
                     OkRecord("d/full.txt", "lost"), OkRecord("d/ok.txt", "ok")});
    cache.WriteSite("cache2", "t.example", {OkRecord("t.txt", "other site")});
    fs::create_directories(dest / "s.example" / "d");
    fs::create_symlink("/dev/full", dest / "s.example" / "big.bin");
    fs::create_symlink("/dev/full", dest / "s.example" / "d" / "full.txt");
    const HeldListing before = Held();
    std::vector<PluginPanelItem> items = Select({"s.example", "t.example"});

    EXPECT_EQ(Get(items), TRUE);
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(FlagsOf(items[0]), 0u);
    EXPECT_EQ(FlagsOf(items[1]), 0u);
    EXPECT_EQ(DiskTree(dest), (std::map<std::string, std::string>{
                                  {"s.example", kDirMark},
                                  {"s.example/big.bin", big},
                                  {"s.example/small.txt", "fine"},
                                  {"s.example/d/full.txt", "lost"},
                                  {"s.example/d", kDirMark},
                                  {"s.example/d/ok.txt", "ok"},
                                  {"t.example", kDirMark},
                                  {"t.example/t.txt", "other site"}}));
    EXPECT_TRUE(fs::is_character_file("/dev/full")) << "the device itself is left alone";
    EXPECT_EQ(CurDir(), "");
    EXPECT_TRUE(Held() == before) << "the held listing is untouched";
}

// The system copies a body in pieces and stops part-way: the rest comes
// through read and write, after what it copied, and the file is whole.
TEST_F(FaultTest, AFastCopyThatStopsPartWayLeavesTheRestToReadAndWrite) {
    const std::string big = Pattern(100000, 5);
    cache.WriteSite("cache1", "s.example", {OkRecord("big.bin", big)});
    Faults().CopyInPieces(7777);
    Faults().FailCall("copy_file_range", 3, EIO);
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"big.bin"});

    EXPECT_EQ(Get(items), TRUE);
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(DiskTree(dest), (std::map<std::string, std::string>{{"big.bin", big}}));
}

// A 64 KiB disk fills at exactly 65536 bytes: a 100000-byte body fails in
// its second chunk and its partial file goes, giving the room back. A full
// destination ends the whole copy: the small file is written only when it
// comes first. The disk is a folder made full by the faults, or for one case
// a real tmpfs.
struct FillCase {
    const char *name;
    bool bigFirst;
    bool wholeSite;
    bool realTmpfs;
};

void PrintTo(const FillCase &c, std::ostream *out) { *out << c.name; }

class SmallDiskTest : public FaultTest, public ::testing::WithParamInterface<FillCase> {};

TEST_P(SmallDiskTest, BigFileFailsAndIsRemovedAndTheCopyEnds) {
    const FillCase c = GetParam();
    const size_t room = 64 * 1024;
    std::optional<SmallTmpfs> tmpfs;
    fs::path disk = work.Path() / "disk";
    if (c.realTmpfs) {
        tmpfs.emplace(room);
        MOUNT_OR_SKIP(*tmpfs);
        disk = tmpfs->Path();
    } else {
        fs::create_directory(disk);
        Faults().Trouble(disk, FolderTrouble::Full, room);
    }
    const std::string big = Pattern(100000, 2);
    const std::string small = Pattern(2000, 3);
    std::vector<SiteRecord> records = {OkRecord("big.bin", big), OkRecord("small.bin", small)};
    if (!c.bigFirst) std::swap(records[0], records[1]);
    cache.WriteSite("cache1", "s.example", records);
    const fs::path to = disk / "out";
    fs::create_directory(to);
    const HeldListing before = Held();

    std::vector<PluginPanelItem> items;
    std::string under;
    if (c.wholeSite) {
        items = Select({"s.example"});
        under = "s.example/";
    } else {
        ASSERT_EQ(Enter("s.example"), TRUE);
        items = c.bigFirst ? Select({"big.bin", "small.bin"}) : Select({"small.bin", "big.bin"});
    }
    EXPECT_EQ(Get(items, to), FALSE);

    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't write file!", "big.bin"}));
    std::map<std::string, std::string> expected;
    if (!c.bigFirst) expected[under + "small.bin"] = small;
    if (c.wholeSite) expected["s.example"] = kDirMark;
    EXPECT_EQ(DiskTree(to), expected);
    for (const PluginPanelItem &item : items) {
        const bool failed = c.wholeSite || c.bigFirst || NameOf(item) == "big.bin";
        EXPECT_EQ(FlagsOf(item), failed ? static_cast<DWORD>(PPIF_SELECTED) : 0u) << NameOf(item);
    }
    // The room the partial file took is free again.
    if (c.realTmpfs) {
        std::ofstream again(disk / "again", std::ios::binary);
        again << Pattern(56000, 4);
        again.flush();
        EXPECT_TRUE(again.good()) << "the removed partial file still takes room";
    } else {
        EXPECT_LE(Faults().Used() + 56000, room) << "the removed partial file still takes room";
    }
    if (!c.wholeSite) {
        ASSERT_EQ(plugin->SetDirectory(panel, "..", 0), TRUE);
    }
    EXPECT_TRUE(Held() == before);
}

INSTANTIATE_TEST_SUITE_P(Orders, SmallDiskTest,
                         ::testing::Values(FillCase{"BigFirstInSite", true, false, false},
                                           FillCase{"SmallFirstInSite", false, false, false},
                                           FillCase{"BigFirstWholeSite", true, true, false},
                                           FillCase{"SmallFirstWholeSite", false, true, false},
                                           FillCase{"BigFirstWholeSiteOnATmpfs", true, true, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The destination cannot be written ------------------------------------------

enum class Denial { OtherUser, ReadOnlyFileSystem };

class UnwritableDestTest : public FaultTest, public ::testing::WithParamInterface<Denial> {};

TEST_P(UnwritableDestTest, EveryItemFailsByNameAndNothingIsCreated) {
    cache.WriteSite("cache1", "s.example",
                    {OkRecord("a.txt", "A"), OkRecord("d/b.txt", "B"), OkRecord("d/e/c.txt", "C")});
    fs::path to = dest;
    if (GetParam() == Denial::ReadOnlyFileSystem) {
        to = work.Path() / "disk" / "out";
        fs::create_directories(to);
        Faults().Trouble(to.parent_path(), FolderTrouble::ReadOnly);
    } else {
        SetMode(to, 0555); // not even the owner may write, and root-owned for nobody
    }
    OpenToEveryone(cache);
    const HeldListing before = Held();

    std::vector<PluginPanelItem> site = Select({"s.example"});
    std::vector<PluginPanelItem> entries;
    {
        RUN_UNPRIVILEGED(asNobody);
        EXPECT_EQ(Get(site, to), FALSE);
        ASSERT_EQ(Enter("s.example"), TRUE);
        entries = Select({"a.txt", "d"});
        EXPECT_EQ(Get(entries, to), FALSE);
    }

    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't create dir!", "s.example",
                                                        "can't create file!", "a.txt",
                                                        "can't create dir!", "d"}));
    EXPECT_TRUE(DiskTree(to).empty());
    EXPECT_EQ(FlagsOf(site[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(entries[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(entries[1]), static_cast<DWORD>(PPIF_SELECTED));
    ASSERT_EQ(plugin->SetDirectory(panel, "..", 0), TRUE);
    EXPECT_TRUE(Held() == before);
    if (GetParam() == Denial::OtherUser) SetMode(to, 0755);
}

INSTANTIATE_TEST_SUITE_P(Ways, UnwritableDestTest,
                         ::testing::Values(Denial::OtherUser, Denial::ReadOnlyFileSystem),
                         [](const auto &info) {
                             return info.param == Denial::OtherUser ? "AsAnotherUser"
                                                                    : "ReadOnlyFileSystem";
                         });

// ---- The site file changes after the root listing was read -----------------------

enum class Damage { Unreadable, Removed, Truncated };

const char *DamageName(Damage damage) {
    switch (damage) {
    case Damage::Unreadable: return "Unreadable";
    case Damage::Removed: return "Removed";
    case Damage::Truncated: return "Truncated";
    }
    return "?";
}

// Site s.example (cache1): a.txt whole, b.txt cut at kCut of its body when
// truncated (its record is still read whole), d/c.txt beyond the cut. Site
// t.example (cache2) is never touched.
class SiteFileDamageTest : public FaultTest, public ::testing::WithParamInterface<Damage> {
  protected:
    static constexpr size_t kCut = 1500;

    void SetUp() override {
        FaultTest::SetUp();
        if (HasFatalFailure()) return;
        records = {OkRecord("a.txt", Pattern(3000, 5)), OkRecord("b.txt", Pattern(3000, 6)),
                   OkRecord("d/c.txt", "C")};
        SiteFileOptions options;
        options.padTail = false;
        image = cache.WriteSite("cache1", "s.example", records, options);
        cache.WriteSite("cache2", "t.example", {OkRecord("t.txt", "T")});
        OpenToEveryone(cache);
        SetMode(dest, 0777); // nobody may write the copies
        before = Held();
    }

    void TearDown() override {
        chmod(cache.PathOf("cache1").c_str(), 0644); // a removed file is fine here
        FaultTest::TearDown();
    }

    void Spoil() {
        switch (GetParam()) {
        case Damage::Unreadable: Faults().FailCall("open", 0, EACCES, cache.PathOf("cache1")); break;
        case Damage::Removed: cache.Remove("cache1"); break;
        case Damage::Truncated:
            fs::resize_file(cache.PathOf("cache1"),
                            static_cast<uintmax_t>(image.records[1].bodyOffset) + kCut);
            break;
        }
    }
    bool Gone() const { return GetParam() != Damage::Truncated; }

    void ExpectListingIntact() {
        for (int up = 0; up < 4 && CurDir() != ""; ++up) {
            ASSERT_EQ(plugin->SetDirectory(panel, "..", 0), TRUE);
        }
        EXPECT_TRUE(Held() == before) << "the held listing is untouched";
        EXPECT_EQ(before.descriptions.at("s.example"), "cache1");
    }

    std::vector<SiteRecord> records;
    SiteFileImage image;
    HeldListing before;
};

TEST_P(SiteFileDamageTest, EnteringShowsWhatIsLeft) {
    Spoil();
    {
        RUN_UNPRIVILEGED(asNobody);
        EXPECT_EQ(Enter("s.example"), TRUE);
        EXPECT_EQ(CurDir(), "s.example");
        EXPECT_EQ(Names(), Gone() ? std::vector<std::string>{}
                                  : (std::vector<std::string>{"a.txt", "b.txt"}));
    }
    EXPECT_EQ(WarningTexts(),
              Gone() ? std::vector<std::string>{"can't open file!"} : std::vector<std::string>{});
    ExpectListingIntact();
}

TEST_P(SiteFileDamageTest, WholeSiteCopyFailsThatSiteOnly) {
    std::vector<PluginPanelItem> items = Select({"s.example", "t.example"});
    Spoil();
    {
        RUN_UNPRIVILEGED(asNobody);
        EXPECT_EQ(Get(items), FALSE);
    }
    std::map<std::string, std::string> expected = {{"t.example", kDirMark},
                                                   {"t.example/t.txt", "T"}};
    if (Gone()) {
        EXPECT_EQ(WarningTexts(), std::vector<std::string>{"can't open file!"});
    } else {
        EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't read file!", "b.txt"}));
        expected["s.example"] = kDirMark;
        expected["s.example/a.txt"] = records[0].body; // b.txt, cut short, leaves nothing
    }
    EXPECT_EQ(DiskTree(dest), expected);
    EXPECT_EQ(FlagsOf(items[0]), static_cast<DWORD>(PPIF_SELECTED));
    EXPECT_EQ(FlagsOf(items[1]), 0u);
    EXPECT_EQ(CurDir(), "");
    ExpectListingIntact();
}

// Cut short since it was entered, the file is not read at the tree's offsets
// either: nothing is copied until the site is entered again.
TEST_P(SiteFileDamageTest, CopyInsideTheSiteFailsTheEntriesNotRead) {
    ASSERT_EQ(Enter("s.example"), TRUE);
    std::vector<PluginPanelItem> items = Select({"a.txt", "b.txt", "d"});
    Spoil();
    {
        RUN_UNPRIVILEGED(asNobody);
        EXPECT_EQ(Get(items), FALSE);
    }
    EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't open file!", "a.txt", "can't open file!",
                                                        "b.txt", "can't open file!", "d"}));
    EXPECT_TRUE(DiskTree(dest).empty());
    for (const PluginPanelItem &item : items)
        EXPECT_EQ(FlagsOf(item), static_cast<DWORD>(PPIF_SELECTED)) << NameOf(item);
    ExpectListingIntact();
}

TEST_P(SiteFileDamageTest, ShiftF3LeavesTheKey) {
    ASSERT_EQ(Enter("s.example"), TRUE);
    Spoil();
    int result = 0;
    {
        RUN_UNPRIVILEGED(asNobody);
        result = ShiftF3("b.txt");
    }
    EXPECT_EQ(result, FALSE);
    EXPECT_TRUE(host.viewers.empty());
    EXPECT_TRUE(WarningTexts().empty());
    ExpectListingIntact();
}

// Another file put in the entered site's place: its bytes lie where the
// tree's offsets say nothing, so nothing is copied or shown from it.
TEST_F(FaultTest, ASiteFileReplacedAfterEnteringIsNotReadAtTheOldOffsets) {
    cache.WriteSite("cache1", "s.example", {OkRecord("a.txt", Pattern(3000, 5))});
    cache.WriteSite("cache2", "t.example", {OkRecord("t.txt", Pattern(3000, 6))});
    for (bool sameFile : {false, true}) {
        SCOPED_TRACE(sameFile ? "written over" : "renamed over");
        ASSERT_EQ(Enter("s.example"), TRUE);
        std::vector<PluginPanelItem> items = Select({"a.txt"});
        const std::string saved = ReadWhole(cache.PathOf("cache1"));
        if (sameFile) { // another copy of the same site, written over it
            std::ofstream(cache.PathOf("cache1"), std::ios::binary)
                << WriteSiteFile(cache.PathOf("twin"), "s.example", {OkRecord("b.txt", "B")}).bytes;
        } else {
            fs::copy_file(cache.PathOf("cache2"), cache.PathOf("other"));
            fs::rename(cache.PathOf("other"), cache.PathOf("cache1"));
        }
        host.ClearRecords();
        EXPECT_EQ(Get(items), FALSE);
        EXPECT_EQ(WarningTexts(), (std::vector<std::string>{"can't open file!", "a.txt"}));
        EXPECT_TRUE(DiskTree(dest).empty());
        EXPECT_EQ(ShiftF3("a.txt"), FALSE);
        ASSERT_EQ(plugin->SetDirectory(panel, "..", 0), TRUE);
        std::ofstream(cache.PathOf("cache1"), std::ios::binary) << saved;
    }
}

INSTANTIATE_TEST_SUITE_P(Damages, SiteFileDamageTest,
                         ::testing::Values(Damage::Unreadable, Damage::Removed, Damage::Truncated),
                         [](const auto &info) { return std::string(DamageName(info.param)); });

// ---- The temporary folder takes no header file ----------------------------------

enum class TempTrouble { Unwritable, Full };

// The viewer service, minding that a folder handed to it is never read (nor,
// as a real host would on closing, deleted).
std::vector<std::string> foldersHandedToTheViewer;

int WINAPI ViewerMindingFolders(const char *fileName, const char *title, int x1, int y1, int x2,
                                int y2, DWORD flags) {
    std::error_code ignored;
    if (fileName != nullptr && fs::is_directory(fs::path(fileName), ignored)) {
        foldersHandedToTheViewer.push_back(fileName);
        return FALSE;
    }
    return RecordingHost::Current()->Viewer(fileName, title, x1, y1, x2, y2, flags);
}

class HeaderTempFolderTest : public FaultTest, public ::testing::WithParamInterface<TempTrouble> {};

// The user is told; the viewer is handed neither the temporary folder
// itself nor a name whose file is gone (it deletes what it is given when its
// window closes); nothing is left in the folder once the viewer is done.
TEST_P(HeaderTempFolderTest, UserIsToldAndTheFolderIsLeftAsItWas) {
    cache.WriteSite("cache1", "s.example", {OkRecord("a.html", "<html></html>")});
    const fs::path temp = work.Path() / "tmp";
    fs::create_directory(temp);
    Faults().Trouble(temp, GetParam() == TempTrouble::Full ? FolderTrouble::Full
                                                           : FolderTrouble::Denied);
    ASSERT_EQ(Enter("s.example"), TRUE);

    foldersHandedToTheViewer.clear();
    PluginStartupInfo info = host.StartupInfo();
    info.Viewer = ViewerMindingFolders;
    plugin->SetStartupInfo(&info);
    EnvOverride tmpdir("TMPDIR", temp.string());
    ShiftF3("a.html");

    const std::vector<std::string> warnings = WarningTexts();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], GetParam() == TempTrouble::Full ? "can't write file!"
                                                          : "can't create file!");
    EXPECT_EQ(warnings[1], "a.html");
    EXPECT_EQ(foldersHandedToTheViewer, std::vector<std::string>{})
        << "the viewer, which deletes what it shows when it closes, was handed a folder";
    for (const ViewerCall &call : host.viewers) {
        EXPECT_TRUE(call.fileExisted) << "the viewer is handed " << call.fileName
                                      << ", which is not there (removed as a partial file)";
        fs::remove(fs::path(call.fileName)); // as the viewer does
    }
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_TRUE(DiskTree(temp).empty());
}

INSTANTIATE_TEST_SUITE_P(Troubles, HeaderTempFolderTest,
                         ::testing::Values(TempTrouble::Unwritable, TempTrouble::Full),
                         [](const auto &info) {
                             return info.param == TempTrouble::Full ? "Full" : "Unwritable";
                         });

// ---- The registry file ----------------------------------------------------------

std::string GoodRegistry(const std::string &cacheRoot, const std::string &settingsKey) {
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\r\n"
           "\"CachePath\"=\"" +
           cacheRoot + "\"\r\n\r\n[HKEY_CURRENT_USER\\" + settingsKey +
           "]\r\n\"Show_Plugz\"=hex:01\r\n\"Diskz_num\"=hex:04\r\n";
}

struct RegistryGarbage {
    const char *name;
    std::string before; // bytes ahead of the good lines
    std::string after;  // bytes behind them
};

void PrintTo(const RegistryGarbage &g, std::ostream *out) { *out << g.name; }

std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

class MalformedRegistryTest : public FaultTest,
                              public ::testing::WithParamInterface<RegistryGarbage> {
  protected:
    std::string SettingsKey() const { return host.rootKey + "\\Q\\VORK"; }
};

// Garbage around good lines: what is readable is read (the cache folder,
// the settings), nothing crashes, and saving the settings keeps every value
// that could be read. A file without the REGEDIT4 line first is not a
// registry file: it is read, but a save is refused and leaves it as it is.
TEST_P(MalformedRegistryTest, ReadableLinesAreReadAndKept) {
    const RegistryGarbage &g = GetParam();
    cache.WriteSite("cache1", "s.example", {OkRecord("f", "f")});
    const std::string text = g.before + GoodRegistry(cache.CachePathValue(), SettingsKey()) + g.after;
    WriteBytes(registry.File(), text);
    Close(panel);
    panel = Open();

    EXPECT_EQ(Names(), std::vector<std::string>{"s.example"});
    PluginInfo info{};
    plugin->GetPluginInfo(&info);
    EXPECT_EQ(info.PluginMenuStringsNumber, 1) << "Show_Plugz read after the garbage";
    ASSERT_NE(info.DiskMenuNumbers, nullptr);
    EXPECT_EQ(*info.DiskMenuNumbers, 4);

    host.dialogScript = [](std::vector<FarDialogItem> &items) {
        items[2].Selected = 0; // Show in Disks Menu off
        return kOkButton;
    };
    EXPECT_EQ(plugin->Configure(0), 1);
    if (text.compare(0, 8, "REGEDIT4") != 0) {
        EXPECT_EQ(WarningTexts(), std::vector<std::string>{"can't create/open registry key!"});
        EXPECT_EQ(ReadWhole(registry.File()), text);
        return;
    }
    EXPECT_TRUE(WarningTexts().empty());
    EXPECT_EQ(registry.GetValue(HKEY_LOCAL_MACHINE, kNetSonicKey, kCachePathName),
              cache.CachePathValue() + std::string(1, '\0'));
    EXPECT_EQ(registry.GetValue(HKEY_CURRENT_USER, SettingsKey(), "Show_Diskz"), std::string(1, '\0'));
    EXPECT_EQ(registry.GetValue(HKEY_CURRENT_USER, SettingsKey(), "Show_Plugz"), std::string(1, '\1'));
    EXPECT_EQ(registry.GetValue(HKEY_CURRENT_USER, SettingsKey(), "Diskz_num"), std::string(1, '\4'));
}

INSTANTIATE_TEST_SUITE_P(
    Garbage, MalformedRegistryTest,
    ::testing::Values(
        RegistryGarbage{"EveryByteValue", "REGEDIT4\r\n" + AllBytes() + "\r\n", ""},
        RegistryGarbage{"NulBytesAndNoHeader", std::string("\0\0REGEDIT4\0\n", 12), ""},
        RegistryGarbage{"BrokenKeyLines",
                        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\r\n[\r\n]\r\n[-HKEY_LOCAL_MACHINE]\r\n"
                        "[HKEY_NOWHERE\\x]\r\n\"v\"=\"w\"\r\n",
                        ""},
        RegistryGarbage{"BrokenValuesUnderTheRightKey",
                        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\r\n"
                        "\"CachePath\"=hex:zz,\r\n"
                        "\"CachePath=\"/unterminated\r\n\"CachePath\"=dword:xyz\r\n=\r\n\"\r\n",
                        ""},
        RegistryGarbage{"OverlongLines",
                        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\" + std::string(5000, 'K') + "]\r\n\"" +
                            std::string(20000, 'n') + "\"=\"" + std::string(100000, 'v') + "\r\n",
                        ""},
        RegistryGarbage{"EndsInsideAValue", "REGEDIT4\r\n\r\n", "\"Show_Diskz\"=hex:0"},
        RegistryGarbage{"EndsInsideAKeyLine", "REGEDIT4\r\n", "[HKEY_CURRENT_USER\\Soft"}),
    [](const auto &info) { return std::string(info.param.name); });

// Registry files with nothing readable in them, and a folder in the file's
// place: the plug-in carries on with the default settings and tells nobody.
TEST_F(FaultTest, RegistryFilesWithNothingReadableLeaveTheDefaults) {
    cache.WriteSite("cache1", "s.example", {OkRecord("f", "f")});
    const std::vector<std::string> contents = {"", AllBytes(), std::string(70000, '['),
                                               "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\"
                                               "netsonic]\r\n\"CachePath\"=hex(2):"};
    for (const std::string &content : contents) {
        WriteBytes(registry.File(), content);
        HANDLE other = Open();
        // The previous panel's cache folder stays: the plug-in keeps the
        // last one it found, so only the settings can be checked here.
        PluginInfo info{};
        plugin->GetPluginInfo(&info);
        EXPECT_EQ(info.DiskMenuStringsNumber, 1);
        EXPECT_EQ(info.PluginMenuStringsNumber, 0);
        const Listing listing = FindData(other);
        EXPECT_EQ(listing.result, TRUE);
        Close(other);
    }
    fs::remove(registry.File());
    fs::create_directory(registry.File()); // a folder where the file should be
    HANDLE other = Open();
    PluginInfo info{};
    plugin->GetPluginInfo(&info);
    EXPECT_EQ(info.DiskMenuStringsNumber, 1);
    Close(other);
    EXPECT_TRUE(WarningTexts().empty());
}

// Configure's Ok when the settings key cannot be created: the user is told,
// Configure still reports the Ok, and the registry file is as it was.
enum class RegistryTrouble { OtherUser, ReadOnlyFileSystem, FullFileSystem };

class UnwritableRegistryTest : public FaultTest,
                               public ::testing::WithParamInterface<RegistryTrouble> {};

TEST_P(UnwritableRegistryTest, OkShowsTheKeyCannotBeCreatedAndChangesNothing) {
    const fs::path folder = work.Path() / "registry";
    fs::create_directories(folder);
    const fs::path file = folder / "registry.reg";
    const std::string content =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\r\n\"CachePath\"=\"" +
        cache.CachePathValue() + "\"\r\n";
    WriteBytes(file, content);
    switch (GetParam()) {
    case RegistryTrouble::OtherUser:
        SetMode(folder, 0555);
        SetMode(file, 0444);
        break;
    case RegistryTrouble::ReadOnlyFileSystem: Faults().Trouble(folder, FolderTrouble::ReadOnly); break;
    case RegistryTrouble::FullFileSystem: Faults().Trouble(folder, FolderTrouble::Full); break;
    }
    const std::set<std::string> filesBefore = [&] {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
        return names;
    }();
    EnvOverride useIt("QVORK_REGISTRY", file.string());
    host.dialogScript = [](std::vector<FarDialogItem> &) { return kOkButton; };

    int result = 0;
    if (GetParam() == RegistryTrouble::OtherUser) {
        RUN_UNPRIVILEGED(asNobody);
        result = plugin->Configure(0);
    } else {
        result = plugin->Configure(0);
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(WarningTexts(), std::vector<std::string>{"can't create/open registry key!"});
    EXPECT_EQ(ReadWhole(file), content);
    std::set<std::string> filesAfter;
    for (const auto &entry : fs::directory_iterator(folder)) filesAfter.insert(entry.path().filename());
    EXPECT_EQ(filesAfter, filesBefore) << "no temporary or lock file is left beside the registry";
    if (GetParam() == RegistryTrouble::OtherUser) SetMode(folder, 0755);
}

// A value that cannot be written once its key is made (the key's creation is
// the first write of the registry file, the first value the second): the
// user is told once, the save stops there, and Configure still reports the Ok.
TEST_F(FaultTest, OkShowsAValueThatCannotBeWritten) {
    host.dialogScript = [](std::vector<FarDialogItem> &) { return kOkButton; };
    Faults().FailCall("rename", 2, ENOSPC);
    EXPECT_EQ(plugin->Configure(0), 1);
    EXPECT_EQ(WarningTexts(), std::vector<std::string>{"can't write registry value!"});
    const std::vector<std::string> calls = Faults().Calls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string &call) { return call.rfind("rename ", 0) == 0; }),
              2)
        << "nothing is written after the failed value";
}

INSTANTIATE_TEST_SUITE_P(Troubles, UnwritableRegistryTest,
                         ::testing::Values(RegistryTrouble::OtherUser,
                                           RegistryTrouble::ReadOnlyFileSystem,
                                           RegistryTrouble::FullFileSystem),
                         [](const auto &info) {
                             switch (info.param) {
                             case RegistryTrouble::OtherUser: return "AsAnotherUser";
                             case RegistryTrouble::ReadOnlyFileSystem: return "ReadOnlyFileSystem";
                             default: return "FullFileSystem";
                             }
                         });
#endif // !_WIN32

} // namespace
} // namespace qvork_test

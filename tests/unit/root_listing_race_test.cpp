// The root read walks the cache folder twice, once to count the entries and
// once to fill the listing. Here the folder changes during the filling walk:
// the Linux layer's directory search calls a test hook just before it hands
// out each entry, and the hook removes, cuts short or replaces entries (the
// one about to be handed out among them). The listing holds exactly what the
// filling walk handed out, never more than was counted, and nothing is read
// or written outside it (run under AddressSanitizer). The entry points are
// the core library's own, so the hook reaches the layer they use; a change
// between the two walks is tested through the module (fault injection tests).
#include <gtest/gtest.h>

#ifndef _WIN32

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/entry_points.h"
#include "platform/linux/find_file_seam.h"
#include "recording_host.h"
#include "registry_sandbox.h"
#include "temp_cache.h"

namespace qvork_test {
namespace {

namespace fs = std::filesystem;

constexpr int kSites = 5;

std::string FileName(int n) { return "cache" + std::to_string(n); }
std::string SiteName(const std::string &file) { return file.substr(5) + ".example"; }

// What the hook did to the folder, by file name.
struct FolderChanges {
    std::vector<std::string> seen; // by the filling walk so far, the current entry last
    std::set<std::string> removed;
    std::set<std::string> notSites; // still there, but no longer a site file
};

struct RaceCase {
    const char *name;
    // Called before the filling walk hands out its entry number `index`
    // (counted from 0) named `entry`, in the cache folder `folder`.
    std::function<void(int index, const fs::path &folder, const std::string &entry,
                       FolderChanges &changes)>
        act;
};

void PrintTo(const RaceCase &c, std::ostream *out) { *out << c.name; }

struct HookState {
    int calls = 0;
    int counted = 0; // entries the counting walk hands out
    const RaceCase *race = nullptr;
    FolderChanges changes;
};

void RaceHook(const char *folder, const char *name, void *context) {
    HookState &state = *static_cast<HookState *>(context);
    const int index = state.calls++ - state.counted;
    if (index < 0) return;
    state.changes.seen.push_back(name);
    state.race->act(index, fs::path(folder), name, state.changes);
}

class RootListingRaceTest : public ::testing::TestWithParam<RaceCase> {
  protected:
    void SetUp() override {
        registry.SetCachePath(cache.CachePathValue());
        for (int n = 1; n <= kSites; ++n)
            cache.WriteSite(FileName(n), SiteName(FileName(n)), {OkRecord("f.txt", "f")});
        const PluginStartupInfo info = host.StartupInfo();
        SetStartupInfo(&info);
        panel = OpenPlugin(0, 0);
    }

    void TearDown() override {
        SetFindFileHook(nullptr, nullptr);
        ClosePlugin(panel);
    }

    RegistrySandbox registry;
    CacheDir cache;
    RecordingHost host;
    HANDLE panel = nullptr;
    HookState hook;
};

TEST_P(RootListingRaceTest, ListingHoldsWhatTheFillingWalkHandedOut) {
    hook.counted = kSites;
    hook.race = &GetParam();
    SetFindFileHook(RaceHook, &hook);

    PluginPanelItem *items = nullptr;
    int count = -1;
    ASSERT_EQ(GetFindData(panel, &items, &count, 0), TRUE);
    ASSERT_NE(items, nullptr);
    EXPECT_GT(hook.calls, kSites) << "the filling walk ran";

    std::map<std::string, std::string> expected; // listed name -> cache file name
    for (int n = 1; n <= kSites; ++n) {
        const std::string file = FileName(n);
        if (hook.changes.removed.count(file)) continue;
        expected[hook.changes.notSites.count(file) ? file : SiteName(file)] =
            hook.changes.notSites.count(file) ? "<none>" : file;
    }
    std::map<std::string, std::string> listed;
    for (int i = 0; i < count; ++i) {
        const PluginPanelItem &item = items[i];
        const std::string name(item.FindData.cFileName);
        EXPECT_TRUE(listed.emplace(name, item.Description ? item.Description : "<none>").second)
            << name << " listed twice";
        const DWORD attributes = item.FindData.dwFileAttributes;
        EXPECT_EQ(attributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
        if (!item.Description) {
            const DWORD links = item.NumberOfLinks; // packed: compare a copy
            EXPECT_EQ(links, 0u) << name;
        }
    }
    EXPECT_EQ(listed, expected);

    // Held as filled: the next read hands out the same items again.
    PluginPanelItem *again = nullptr;
    int againCount = -1;
    SetFindFileHook(nullptr, nullptr);
    ASSERT_EQ(GetFindData(panel, &again, &againCount, 0), TRUE);
    EXPECT_EQ(again, items);
    EXPECT_EQ(againCount, count);
}

void Remove(const fs::path &folder, const std::string &entry, FolderChanges &changes) {
    fs::remove_all(folder / entry);
    changes.removed.insert(entry);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, RootListingRaceTest,
    ::testing::Values(
        RaceCase{"EntryVanishesAsItIsHandedOut",
                 [](int index, const fs::path &folder, const std::string &entry,
                    FolderChanges &changes) {
                     if (index == 1 || index == 3) Remove(folder, entry, changes);
                 }},
        RaceCase{"EveryLaterEntryVanishes",
                 [](int index, const fs::path &folder, const std::string &entry,
                    FolderChanges &changes) {
                     if (index != 0) return;
                     for (int n = 1; n <= kSites; ++n)
                         if (FileName(n) != entry) Remove(folder, FileName(n), changes);
                 }},
        RaceCase{"EveryEntryVanishes",
                 [](int index, const fs::path &folder, const std::string &,
                    FolderChanges &changes) {
                     if (index != 0) return;
                     for (int n = 1; n <= kSites; ++n) Remove(folder, FileName(n), changes);
                 }},
        RaceCase{"TheFolderItselfVanishes",
                 [](int index, const fs::path &folder, const std::string &,
                    FolderChanges &changes) {
                     if (index != 2) return;
                     fs::remove_all(folder);
                     // The two entries handed out before it stay listed.
                     const std::set<std::string> listed(changes.seen.begin(), changes.seen.begin() + 2);
                     for (int n = 1; n <= kSites; ++n)
                         if (!listed.count(FileName(n))) changes.removed.insert(FileName(n));
                 }},
        RaceCase{"EntryCutShortAsItIsHandedOut",
                 [](int index, const fs::path &folder, const std::string &entry,
                    FolderChanges &changes) {
                     if (index != 2) return;
                     fs::resize_file(folder / entry, 10); // inside the record count
                     changes.notSites.insert(entry);
                 }},
        RaceCase{"EntryBecomesAFolder",
                 [](int index, const fs::path &folder, const std::string &entry,
                    FolderChanges &changes) {
                     if (index != 0) return;
                     fs::remove(folder / entry);
                     fs::create_directory(folder / entry);
                     changes.notSites.insert(entry);
                 }}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace qvork_test

#endif // !_WIN32

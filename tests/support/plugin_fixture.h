// GoogleTest fixtures for tests that drive the plug-in through its exported
// entry points only. Each test gets its own registry, its own cache folder
// (with "CachePath" naming it), a recording host and a freshly loaded module
// that has been given the host's start-up record. PluginTest also opens a
// panel. Tear-down closes what is still open and checks that the module
// really unloaded, so the next test starts from the zero state.
#ifndef QVORK_TESTS_SUPPORT_PLUGIN_FIXTURE_H
#define QVORK_TESTS_SUPPORT_PLUGIN_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "recording_host.h"
#include "registry_sandbox.h"
#include "temp_cache.h"

namespace qvork_test {

// What one GetFindData call handed out.
struct Listing {
    int result = 0;
    PluginPanelItem *items = nullptr;
    int count = 0;

    const PluginPanelItem *begin() const { return items; }
    const PluginPanelItem *end() const { return items + (items && count > 0 ? count : 0); }
};

// The host's records are packed to 2 bytes, so off Win32 their fields may
// lie misaligned: assertions compare a copy, Field(item.PackSize), rather
// than bind a reference to the field itself.
template <typename T> T Field(T value) { return value; }

// NameOf (recording_host.h): cFileName, up to its terminator.
std::string DescriptionOf(const PluginPanelItem &item); // "<none>" for NULL
inline DWORD FlagsOf(const PluginPanelItem &item) { return item.Flags; }
// The item whose cFileName is `name`, or NULL; the test fails when two are.
const PluginPanelItem *FindByName(const Listing &listing, const std::string &name);
std::vector<std::string> NamesOf(const Listing &listing);

class LoadedPluginTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // OpenPlugin(0, 0), remembered so tear-down closes it.
    HANDLE Open();
    void Close(HANDLE panel);
    Listing FindData(HANDLE panel, int opMode = 0);
    OpenPluginInfo InfoOf(HANDLE panel);
    std::string CurDirOf(HANDLE panel); // "<null>" for NULL

    RegistrySandbox registry;
    CacheDir cache;
    RecordingHost host;
    std::string modulePath = PluginModulePath(); // what SetUp loads
    std::unique_ptr<PluginModule> plugin;
    std::vector<HANDLE> openPanels;
};

class PluginTest : public LoadedPluginTest {
  protected:
    void SetUp() override;

    Listing ReadRoot(int opMode = 0) { return FindData(panel, opMode); }

    HANDLE panel = nullptr;
};

// A panel driven as the file manager drives it: the host's panel shows what
// was read, with the item a SetDirectory names as its current item, so the
// plug-in finds a site by its root item.
class HostPanelTest : public PluginTest {
  protected:
    // Keeps the root listing as the host's panel shows it.
    void ReadRootIntoPanel();
    // The host's panel now shows `items` with `current` as its current item.
    void ShowInPanel(const std::vector<PluginPanelItem> &items, const std::string &current);
    // SetDirectory(site) while the host's panel shows `shown`, the site current.
    int EnterFrom(const std::vector<PluginPanelItem> &shown, const std::string &site);
    // EnterFrom the kept root listing, read first if nothing is kept.
    int Enter(const std::string &site);
    int Cd(const std::string &dir, int opMode = 0);

    // The current listing as the host keeps it: a copy, the array given back.
    std::vector<PluginPanelItem> List();
    std::vector<std::string> Names(); // in listing order
    // The listed item named `name`; the test fails when there is none.
    PluginPanelItem Item(const std::string &name);
    // The named items of the current listing (root or in-site), selected, in
    // the order named; the test fails for a name that is not listed.
    std::vector<PluginPanelItem> Select(const std::vector<std::string> &names);

    OpenPluginInfo Info() { return InfoOf(panel); }
    std::string CurDir() { return CurDirOf(panel); }
    // The text line of every warning box, in order.
    std::vector<std::string> WarningTexts() const;

    std::vector<PluginPanelItem> root; // the root listing the host's panel keeps
};

} // namespace qvork_test

#endif

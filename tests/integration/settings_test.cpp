// The three settings as the host meets them: the menu entries GetPluginInfo
// offers (read from the registry afresh on every call), the settings dialog
// Configure opens, and the 1-byte REG_BINARY values under
// HKEY_CURRENT_USER\<RootKey>\Q\VORK that only "Ok" writes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace qvork_test {
namespace {

// The dialog's items, by index.
constexpr int kFrame = 0, kPluginsBox = 1, kDisksBox = 2, kDigitField = 3, kOkButton = 5,
              kCancelButton = 6;

const char *const kValueNames[3] = {"Show_Diskz", "Show_Plugz", "Diskz_num"};

// What GetPluginInfo should offer.
struct Menus {
    int disks;                // DiskMenuStringsNumber
    int plugins;              // PluginMenuStringsNumber
    std::optional<int> digit; // *DiskMenuNumbers; nullopt: DiskMenuNumbers is NULL
};

// The settings as 1-byte values: Show_Diskz, Show_Plugz, Diskz_num.
struct StoredBytes {
    int disks;
    int plugins;
    int digit;
};

std::string Letters(size_t length, char first) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += static_cast<char>(first + i % 26);
    return text;
}

void SetText(FarDialogItem &item, const std::string &text) {
    std::memset(item.Data, 0, sizeof item.Data);
    std::memcpy(item.Data, text.data(), text.size());
}

class SettingsTest : public LoadedPluginTest {
  protected:
    void SetUp() override {
        LoadedPluginTest::SetUp();
        if (HasFatalFailure()) return;
        // A key of this test's own, so tests never see each other's values
        // in a real registry.
        const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "." + test->name();
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        UseRootKey("Software\\qVORK-tests\\" + name + "-" + std::to_string(std::random_device{}()) +
                   "\\Plugins");
    }

    void TearDown() override {
        if (plugin) {
            for (const char *value : kValueNames) {
                try {
                    registry.DeleteValue(HKEY_CURRENT_USER, SettingsKey(), value);
                } catch (const std::exception &) {
                }
            }
        }
        LoadedPluginTest::TearDown();
    }

    // The host's RootKey, handed to the plug-in as a new start-up record.
    void UseRootKey(const std::string &rootKey) {
        host.rootKey = rootKey;
        const PluginStartupInfo info = host.StartupInfo();
        plugin->SetStartupInfo(&info);
    }

    std::string SettingsKey() const { return host.rootKey + "\\Q\\VORK"; }

    bool KeyExists() const {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey().c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    void Store(const std::string &name, DWORD type, const std::string &bytes) {
        registry.SetValue(HKEY_CURRENT_USER, SettingsKey(), name, type, bytes);
    }

    void ExpectStored(const StoredBytes &expected) {
        const int values[3] = {expected.disks, expected.plugins, expected.digit};
        for (int i = 0; i < 3; ++i) {
            DWORD type = REG_NONE;
            const std::optional<std::string> bytes =
                registry.GetValue(HKEY_CURRENT_USER, SettingsKey(), kValueNames[i], &type);
            ASSERT_TRUE(bytes.has_value()) << kValueNames[i] << " was not written";
            EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << kValueNames[i];
            EXPECT_EQ(*bytes, std::string(1, static_cast<char>(values[i]))) << kValueNames[i];
        }
    }

    PluginInfo AskMenus() {
        PluginInfo info;
        std::memset(&info, 0, sizeof info);
        info.StructSize = -1;
        info.Flags = 0xBDBDBDBD;
        plugin->GetPluginInfo(&info);
        return info;
    }

    void ExpectMenus(const Menus &expected) {
        const PluginInfo info = AskMenus();
        // Copied out of the packed record before gtest takes references.
        const char *const *disks = info.DiskMenuStrings;
        const int *numbers = info.DiskMenuNumbers;
        const char *const *plugins = info.PluginMenuStrings;
        const char *const *config = info.PluginConfigStrings;
        const char *prefix = info.CommandPrefix;
        EXPECT_EQ(info.StructSize, static_cast<int>(sizeof info));
        EXPECT_EQ(info.Flags, 0u);
        // The Disks list is offered even when its count is 0.
        ASSERT_NE(disks, nullptr);
        EXPECT_STREQ(disks[0], "qVORK");
        EXPECT_EQ(info.DiskMenuStringsNumber, expected.disks);
        if (expected.digit) {
            ASSERT_NE(numbers, nullptr);
            EXPECT_EQ(*numbers, *expected.digit);
        } else {
            EXPECT_EQ(numbers, nullptr) << "no digit for " << *numbers;
        }
        EXPECT_EQ(info.PluginMenuStringsNumber, expected.plugins);
        if (expected.plugins) {
            ASSERT_NE(plugins, nullptr);
            EXPECT_STREQ(plugins[0], "qVORK");
        } else {
            EXPECT_EQ(plugins, nullptr);
        }
        ASSERT_NE(config, nullptr) << "the configuration entry is always offered";
        EXPECT_STREQ(config[0], "qVORK");
        EXPECT_EQ(info.PluginConfigStringsNumber, 1);
        ASSERT_NE(prefix, nullptr) << "vork:PATH opens a copied cache";
        EXPECT_STREQ(prefix, "vork");
    }

    // Opens the settings dialog; `edit` acts as the user, and the dialog
    // closes with `answer`.
    int RunConfigure(int answer, std::function<void(std::vector<FarDialogItem> &)> edit = {}) {
        host.dialogScript = [answer, edit](std::vector<FarDialogItem> &items) {
            if (edit && items.size() == 7) edit(items);
            return answer;
        };
        return plugin->Configure(0);
    }

    // The dialog as it opens now (closed with Esc).
    std::vector<FarDialogItem> DialogShown() {
        host.dialogs.clear();
        RunConfigure(-1);
        return host.dialogs.empty() ? std::vector<FarDialogItem>{} : host.dialogs[0].itemsShown;
    }

    void ExpectDialogShows(int plugins, int disks, const char *digit) {
        const std::vector<FarDialogItem> items = DialogShown();
        ASSERT_EQ(items.size(), 7u);
        EXPECT_EQ(items[kPluginsBox].Selected, plugins);
        EXPECT_EQ(items[kDisksBox].Selected, disks);
        EXPECT_STREQ(items[kDigitField].Data, digit);
    }
};

// --- Defaults and the dialog ---------------------------------------------------------

TEST_F(SettingsTest, WithNoKeyTheDefaultsStandAndNothingIsCreated) {
    ExpectMenus({1, 0, 0});
    ExpectDialogShows(0, 1, "0");
    EXPECT_FALSE(KeyExists()) << "reading never creates the key";
    EXPECT_TRUE(host.Warnings().empty());
}

struct ItemLayout {
    int type, x1, y1, x2, y2, focus;
    DWORD flags;
    int defaultButton;
    const char *text;
};

TEST_F(SettingsTest, TheDialogIsSevenItemsCentredWithoutHelp) {
    const ItemLayout kLayout[7] = {
        {DI_DOUBLEBOX, 2, 1, 40, 7, 0, 0, 0, "qVORK"},
        {DI_CHECKBOX, 5, 2, 0, 0, 1, 0, 0, "Show in Plugins Menu"},
        {DI_CHECKBOX, 5, 3, 0, 0, 0, 0, 0, "Show in Disks Menu"},
        {DI_FIXEDIT, 6, 4, 6, 3, 0, DIF_MASKEDIT, 0, "0"},
        {DI_TEXT, 8, 4, 0, 0, 0, 0, 0, "Disks Menu Digit (empty = auto)"},
        {DI_BUTTON, 0, 6, 0, 0, 0, DIF_CENTERGROUP, 1, "Ok"},
        {DI_BUTTON, 0, 6, 0, 0, 0, DIF_CENTERGROUP, 0, "Cancel"},
    };
    host.moduleNumber = 31;
    UseRootKey(host.rootKey);

    EXPECT_EQ(RunConfigure(-1), 0);

    ASSERT_EQ(host.dialogs.size(), 1u);
    const DialogCall &call = host.dialogs[0];
    EXPECT_EQ(call.pluginNumber, 31);
    EXPECT_EQ(call.x1, -1);
    EXPECT_EQ(call.y1, -1);
    EXPECT_EQ(call.x2, 43);
    EXPECT_EQ(call.y2, 9);
    EXPECT_EQ(call.helpTopic, std::optional<std::string>("")) << "help topic \"\", not NULL";
    ASSERT_EQ(call.itemsShown.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        const FarDialogItem &item = call.itemsShown[i];
        const ItemLayout &want = kLayout[i];
        EXPECT_EQ(item.Type, want.type);
        EXPECT_EQ(item.X1, want.x1);
        EXPECT_EQ(item.Y1, want.y1);
        EXPECT_EQ(item.X2, want.x2);
        EXPECT_EQ(item.Y2, want.y2);
        EXPECT_EQ(item.Focus, want.focus);
        EXPECT_EQ(item.Flags, want.flags);
        EXPECT_EQ(item.DefaultButton, want.defaultButton);
        EXPECT_STREQ(item.Data, want.text);
        if (i == kDigitField) {
            ASSERT_NE(item.Mask, nullptr);
            EXPECT_STREQ(item.Mask, "9");
        } else if (i == kDisksBox) {
            EXPECT_EQ(item.Reserved, 1u) << "Show_Diskz defaults to 1";
        } else {
            EXPECT_EQ(item.Reserved, 0u) << "the whole Selected word";
        }
    }
    EXPECT_TRUE(host.getMsgs.empty()) << "every item holds its text";
}

// --- Closing the dialog ------------------------------------------------------------------

TEST_F(SettingsTest, OkWritesAllThreeOneByteValuesEvenWhenNothingChanged) {
    EXPECT_EQ(RunConfigure(kOkButton), 1);

    ExpectStored({1, 0, 0});
    EXPECT_TRUE(host.Warnings().empty());

    // Once stored, another "Ok" writes the same three bytes again.
    Store("Diskz_num", REG_BINARY, std::string("\x04\x00\x00\x00", 4));
    EXPECT_EQ(RunConfigure(kOkButton), 1);
    ExpectStored({1, 0, 4});

    // A wider stored value the box shows as checked stays checked: 256 kept
    // to its low byte would come back as 0.
    Store("Show_Plugz", REG_BINARY, std::string("\x00\x01\x00\x00", 4));
    EXPECT_EQ(RunConfigure(kOkButton), 1);
    ExpectStored({1, 1, 4});
}

TEST_F(SettingsTest, CancelOrEscapeWritesNothingAndCreatesNoKey) {
    const auto changeEverything = [](std::vector<FarDialogItem> &items) {
        items[kPluginsBox].Selected = 1;
        items[kDisksBox].Selected = 0;
        SetText(items[kDigitField], "5");
    };
    for (int answer : {kCancelButton, -1, kFrame, kDigitField}) {
        SCOPED_TRACE("dialog result " + std::to_string(answer));
        EXPECT_EQ(RunConfigure(answer, changeEverything), 0);
        EXPECT_FALSE(KeyExists());
    }
    // With values already stored, they stay as they were.
    Store("Show_Diskz", REG_BINARY, std::string(1, '\x01'));
    Store("Show_Plugz", REG_BINARY, std::string(1, '\x00'));
    Store("Diskz_num", REG_BINARY, std::string(1, '\x02'));
    EXPECT_EQ(RunConfigure(kCancelButton, changeEverything), 0);
    ExpectStored({1, 0, 2});
    EXPECT_TRUE(host.Warnings().empty());
}

struct RoundTripCase {
    const char *label;
    int plugins;       // check box states the user leaves
    int disks;
    const char *digit; // the digit field's text
    StoredBytes stored;
    Menus menus;
    const char *shownDigit; // the field when the dialog opens again
};

void PrintTo(const RoundTripCase &entry, std::ostream *out) { *out << entry.label; }

class SettingsRoundTripTest : public SettingsTest,
                              public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(SettingsRoundTripTest, OkStoresWhatTheDialogHeldAndTheMenusFollow) {
    const RoundTripCase &param = GetParam();
    ExpectMenus({1, 0, 0}); // read afresh on every call: the defaults first

    EXPECT_EQ(RunConfigure(kOkButton,
                           [&](std::vector<FarDialogItem> &items) {
                               items[kPluginsBox].Selected = param.plugins;
                               items[kDisksBox].Selected = param.disks;
                               SetText(items[kDigitField], param.digit);
                           }),
              1);

    ExpectStored(param.stored);
    ExpectMenus(param.menus);
    ExpectDialogShows(param.plugins, param.disks, param.shownDigit);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, SettingsRoundTripTest,
    ::testing::Values(
        RoundTripCase{"DigitSeven", 0, 1, "7", {1, 0, 7}, {1, 0, 7}, "7"},
        RoundTripCase{"DigitNine", 0, 1, "9", {1, 0, 9}, {1, 0, 9}, "9"},
        RoundTripCase{"DigitZero", 0, 1, "0", {1, 0, 0}, {1, 0, 0}, "0"},
        RoundTripCase{"EmptyDigit", 0, 1, "", {1, 0, 0}, {1, 0, 0}, "0"},
        RoundTripCase{"SpaceDigit", 0, 1, " ", {1, 0, 0}, {1, 0, 0}, "0"},
        RoundTripCase{"LetterDigit", 0, 1, "x", {1, 0, 0}, {1, 0, 0}, "0"},
        RoundTripCase{"PluginsMenuOnly", 1, 0, "3", {0, 1, 3}, {0, 1, 3}, "3"},
        RoundTripCase{"BothMenusOff", 0, 0, "", {0, 0, 0}, {0, 0, 0}, "0"},
        RoundTripCase{"BothMenusOn", 1, 1, "1", {1, 1, 1}, {1, 1, 1}, "1"}),
    [](const auto &info) { return std::string(info.param.label); });

// --- Values stored by other means ---------------------------------------------------------

struct StoredCase {
    const char *label;
    const char *name;
    DWORD type;
    std::string bytes;
    Menus menus;
};

void PrintTo(const StoredCase &entry, std::ostream *out) { *out << entry.label; }

class StoredValueTest : public SettingsTest, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredValueTest, GetPluginInfoReadsTheValueAfreshEachCall) {
    const StoredCase &param = GetParam();
    ExpectMenus({1, 0, 0});

    Store(param.name, param.type, param.bytes);

    ExpectMenus(param.menus);
    EXPECT_TRUE(host.Warnings().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredValueTest,
    ::testing::Values(
        // A stored 0 turns the Disks entry off although its default is 1.
        StoredCase{"ShowDiskzOneByteZero", "Show_Diskz", REG_BINARY, std::string(1, '\0'),
                   {0, 0, 0}},
        StoredCase{"ShowPlugzOneByteOne", "Show_Plugz", REG_BINARY, "\x01", {1, 1, 0}},
        // Four bytes are read whole: only the second byte is set here.
        StoredCase{"ShowPlugzFourBytes256", "Show_Plugz", REG_BINARY,
                   std::string("\x00\x01\x00\x00", 4), {1, 1, 0}},
        StoredCase{"DiskzNumFourBytes258", "Diskz_num", REG_BINARY,
                   std::string("\x02\x01\x00\x00", 4), {1, 0, std::nullopt}},
        StoredCase{"DiskzNumFourBytesSeven", "Diskz_num", REG_BINARY,
                   std::string("\x07\x00\x00\x00", 4), {1, 0, 7}},
        StoredCase{"DiskzNumTwoBytes", "Diskz_num", REG_BINARY, std::string("\x09\x00", 2),
                   {1, 0, 9}},
        StoredCase{"DiskzNumNine", "Diskz_num", REG_BINARY, "\x09", {1, 0, 9}},
        StoredCase{"DiskzNumTen", "Diskz_num", REG_BINARY, "\x0A", {1, 0, std::nullopt}},
        StoredCase{"DiskzNum255", "Diskz_num", REG_BINARY, "\xFF", {1, 0, std::nullopt}},
        // Anything but REG_BINARY of at most 4 bytes keeps the default.
        StoredCase{"ShowDiskzDword", "Show_Diskz", REG_DWORD, std::string(4, '\0'), {1, 0, 0}},
        StoredCase{"ShowPlugzString", "Show_Plugz", REG_SZ, std::string("1\0", 2), {1, 0, 0}},
        StoredCase{"DiskzNumDword", "Diskz_num", REG_DWORD, std::string("\x05\x00\x00\x00", 4),
                   {1, 0, 0}},
        StoredCase{"ShowDiskzFiveBytes", "Show_Diskz", REG_BINARY, std::string(5, '\0'),
                   {1, 0, 0}},
        StoredCase{"DiskzNumEightBytes", "Diskz_num", REG_BINARY,
                   std::string("\x07\x00\x00\x00\x00\x00\x00\x00", 8), {1, 0, 0}},
        StoredCase{"DiskzNumEmpty", "Diskz_num", REG_BINARY, "", {1, 0, 0}}),
    [](const auto &info) { return std::string(info.param.label); });

TEST_F(SettingsTest, TheDialogOpensWithTheStoredSettings) {
    Store("Show_Diskz", REG_BINARY, std::string(1, '\0'));
    Store("Show_Plugz", REG_BINARY, "\x01");
    Store("Diskz_num", REG_BINARY, "\x07");
    ExpectDialogShows(1, 0, "7");
    ExpectMenus({0, 1, 7}); // reachable through both other menus only as set
}

// A number the menus do not use as a digit (they number the entry as for 0)
// once showed as '0' + 12, "<".
TEST_F(SettingsTest, AStoredNumberAboveNineShowsAsZero) {
    Store("Diskz_num", REG_BINARY, "\x0C");
    ExpectDialogShows(0, 1, "0");
}

// --- The key path -----------------------------------------------------------------------

// Longer than the 100-character key path once allowed (92 + "\Q\VORK").
TEST_F(SettingsTest, ALongRootKeyWorks) {
    UseRootKey(host.rootKey + "\\" + Letters(60, 'a') + "\\" + Letters(60, 'k'));
    ASSERT_GT(host.rootKey.size(), 92u);

    EXPECT_EQ(RunConfigure(kOkButton,
                           [](std::vector<FarDialogItem> &items) {
                               SetText(items[kDigitField], "7");
                           }),
              1);

    EXPECT_TRUE(host.Warnings().empty());
    ExpectStored({1, 0, 7});
    ExpectMenus({1, 0, 7});
}

// A RootKey no registry path could hold: whatever the plug-in makes of it,
// nothing is written past a buffer, Configure still reports the Ok, and the
// settings are either stored under that key or the failure is shown.
TEST_F(SettingsTest, AnOverlongRootKeyOverrunsNothing) {
    std::string rootKey = host.rootKey;
    while (rootKey.size() < 3000) rootKey += "\\" + Letters(200, 'a');
    UseRootKey(rootKey);

    EXPECT_EQ(RunConfigure(kOkButton), 1);

    const bool stored =
        registry.GetValue(HKEY_CURRENT_USER, SettingsKey(), "Diskz_num").has_value();
    EXPECT_TRUE(stored || host.Warnings().size() == 1u);
    PluginInfo info = AskMenus();
    EXPECT_EQ(info.PluginConfigStringsNumber, 1);
}

#ifndef _WIN32
// Points QVORK_REGISTRY somewhere for one scope.
class RegistryFileOverride {
  public:
    explicit RegistryFileOverride(const std::string &path) {
        if (const char *previous = std::getenv("QVORK_REGISTRY")) previous_ = previous;
        setenv("QVORK_REGISTRY", path.c_str(), 1);
    }
    ~RegistryFileOverride() {
        if (previous_)
            setenv("QVORK_REGISTRY", previous_->c_str(), 1);
        else
            unsetenv("QVORK_REGISTRY");
    }

  private:
    std::optional<std::string> previous_;
};

// The registry file would lie below a regular file, so no key can be
// created (this holds for root too, unlike a folder without write access).
TEST_F(SettingsTest, AKeyThatCannotBeCreatedIsReportedAndConfigureStillSaysOk) {
    TempDir dir("qvork-settings");
    WriteBytes(dir.Path() / "plain-file", "not a folder");
    RegistryFileOverride override((dir.Path() / "plain-file" / "registry.reg").string());

    EXPECT_EQ(RunConfigure(kOkButton,
                           [](std::vector<FarDialogItem> &items) {
                               SetText(items[kDigitField], "7");
                           }),
              1);

    const std::vector<MessageCall> warnings = host.Warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].items,
              (std::vector<std::string>{"VORK", "can't create/open registry key!", "OK"}));
    EXPECT_EQ(warnings[0].buttonCount, 1);
    // Reading fails silently: the defaults stand.
    host.ClearRecords();
    ExpectMenus({1, 0, 0});
    EXPECT_TRUE(host.messages.empty());
}
#endif

} // namespace
} // namespace qvork_test

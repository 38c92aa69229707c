// BuildDialogItems: compact dialog descriptions widened into the host's
// records. Small fields widen without sign, the Selected word is copied
// whole, a Text below 2000 is a message number asked of the host, anything
// else is the text itself, and no text is written past an item's Data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/plugin_state.h"
#include "recording_host.h"
#include "settings/config_dialog.h"

namespace qvork_test {
namespace {

class DialogItemsTest : public ::testing::Test {
  protected:
    void SetUp() override { State.Info = host.StartupInfo(); }
    void TearDown() override { std::memset(&State.Info, 0, sizeof State.Info); }

    // Builds `table` into exactly as many heap records (so ASan sees a write
    // past the last one), each first filled with 0xBD.
    std::vector<FarDialogItem> Build(const std::vector<CompactDialogItem> &table) {
        std::vector<FarDialogItem> items(table.size());
        std::memset(items.data(), 0xBD, items.size() * sizeof(FarDialogItem));
        BuildDialogItems(table.data(), items.data(), static_cast<int>(table.size()));
        return items;
    }

    RecordingHost host;
};

CompactDialogItem Entry(DWORD_PTR text) {
    CompactDialogItem entry;
    std::memset(&entry, 0, sizeof entry);
    entry.Text = text;
    return entry;
}

DWORD_PTR TextOf(const char *text) { return reinterpret_cast<DWORD_PTR>(text); }

TEST_F(DialogItemsTest, SmallFieldsWidenWithoutSignAndTheSelectedWordIsCopiedWhole) {
    CompactDialogItem entry = Entry(TextOf("label"));
    entry.Type = 200;
    entry.X1 = 255;
    entry.Y1 = 128;
    entry.X2 = 1;
    entry.Y2 = 254;
    entry.Focus = 130;
    entry.Selected = 0xFFFFFFFFu;
    entry.Flags = 0x80400000u;
    entry.DefaultButton = 255;

    const FarDialogItem item = Build({entry})[0];

    EXPECT_EQ(item.Type, 200);
    EXPECT_EQ(item.X1, 255);
    EXPECT_EQ(item.Y1, 128);
    EXPECT_EQ(item.X2, 1);
    EXPECT_EQ(item.Y2, 254);
    EXPECT_EQ(item.Focus, 130);
    EXPECT_EQ(item.Reserved, static_cast<DWORD_PTR>(0xFFFFFFFFu));
    EXPECT_EQ(item.Flags, 0x80400000u);
    EXPECT_EQ(item.DefaultButton, 255);
    EXPECT_STREQ(item.Data, "label");
    EXPECT_TRUE(host.getMsgs.empty());
}

TEST_F(DialogItemsTest, TextsBelow2000AreMessageNumbersAskedOfTheHost) {
    host.moduleNumber = 12;
    State.Info = host.StartupInfo();
    host.messageTexts[0] = "zero";
    host.messageTexts[1999] = "last number";
    const char literal[] = "a text";

    const std::vector<FarDialogItem> items =
        Build({Entry(0), Entry(1999), Entry(TextOf(literal)), Entry(TextOf(""))});

    EXPECT_STREQ(items[0].Data, "zero");
    EXPECT_STREQ(items[1].Data, "last number");
    EXPECT_STREQ(items[2].Data, "a text");
    EXPECT_STREQ(items[3].Data, "");
    ASSERT_EQ(host.getMsgs.size(), 2u);
    EXPECT_EQ(host.getMsgs[0].msgId, 0);
    EXPECT_EQ(host.getMsgs[1].msgId, 1999);
    EXPECT_EQ(host.getMsgs[0].pluginNumber, 12);
}

TEST_F(DialogItemsTest, ATextLongerThanDataIsCutInsideTheItem) {
    const std::string longText(sizeof(FarDialogItem::Data) + 100, 'q');
    host.messageTexts[5] = longText;

    const std::vector<FarDialogItem> items = Build({Entry(TextOf(longText.c_str())), Entry(5)});

    for (const FarDialogItem &item : items) {
        const size_t length = strnlen(item.Data, sizeof item.Data);
        ASSERT_LT(length, sizeof item.Data) << "Data ends inside the item";
        EXPECT_EQ(std::string(item.Data), longText.substr(0, length));
    }
}

TEST_F(DialogItemsTest, OnlyCountItemsAreWritten) {
    std::vector<FarDialogItem> items(3);
    std::memset(items.data(), 0xBD, items.size() * sizeof(FarDialogItem));
    const CompactDialogItem table[2] = {Entry(TextOf("one")), Entry(TextOf("two"))};

    BuildDialogItems(table, items.data(), 2);
    BuildDialogItems(table, items.data() + 2, 0);

    EXPECT_STREQ(items[1].Data, "two");
    const unsigned char *third = reinterpret_cast<const unsigned char *>(&items[2]);
    for (size_t i = 0; i < sizeof(FarDialogItem); ++i)
        ASSERT_EQ(third[i], 0xBD) << "byte " << i << " of the item past the count";
}

} // namespace
} // namespace qvork_test

// The warning box every user-facing failure goes through, and the host's
// numbered texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/messages.h"
#include "host/plugin_state.h"
#include "recording_host.h"

namespace qvork_test {
namespace {

class MessagesTest : public ::testing::Test {
  protected:
    void SetUp() override { State.Info = host.StartupInfo(); }
    void TearDown() override { std::memset(&State.Info, 0, sizeof State.Info); }

    RecordingHost host;
};

TEST_F(MessagesTest, ShowErrorIsAWarningTitledVorkWithOneOkButton) {
    struct {
        const char *text;
        const char *shown;
    } const cases[] = {
        {"can't open file!", "can't open file!"},
        {"can't create/open registry key!", "can't create/open registry key!"},
        {"", ""},
        {nullptr, "(NULL)"},
    };
    for (const auto &error : cases) {
        SCOPED_TRACE(error.shown);
        host.ClearRecords();
        ShowError(error.text);
        ASSERT_EQ(host.messages.size(), 1u);
        const MessageCall &call = host.messages[0];
        EXPECT_EQ(call.pluginNumber, 0) << "plug-in number 0, not the ModuleNumber";
        EXPECT_EQ(call.flags, static_cast<DWORD>(FMSG_WARNING));
        EXPECT_EQ(call.helpTopic, std::optional<std::string>(""));
        EXPECT_EQ(call.items, (std::vector<std::string>{"VORK", error.shown, "OK"}));
        EXPECT_EQ(call.itemCount, 3);
        EXPECT_EQ(call.buttonCount, 1);
        EXPECT_TRUE(host.savedScreens.empty());
    }
}

TEST_F(MessagesTest, GetMsgTextAsksTheHostWithTheModuleNumber) {
    host.messageTexts[4] = "Show in Disks menu";
    EXPECT_STREQ(GetMsgText(4), "Show in Disks menu");
    ASSERT_EQ(host.getMsgs.size(), 1u);
    EXPECT_EQ(host.getMsgs[0].pluginNumber, host.moduleNumber);
    EXPECT_EQ(host.getMsgs[0].msgId, 4);
}

} // namespace
} // namespace qvork_test

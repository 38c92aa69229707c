// The shipped help file checked as the file manager will read it, and its
// plain rendering for the console host's F1.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "hosts/qvork/help_file.h"

namespace qvork_host {
namespace {

std::string ShippedHelp() {
    std::ifstream file(QVORK_HELP_FILE, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(HelpFileTest, ShippedFileIsWellFormed) {
    const std::string text = ShippedHelp();
    ASSERT_FALSE(text.empty()) << QVORK_HELP_FILE;
    EXPECT_EQ(text.rfind(".Language=English,English\n", 0), 0u) << "the .Language line first";
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        EXPECT_LE(line.size(), 80u) << "line " << number << " is wider than 80 columns";
    }
    const HelpFile help = ParseHelpFile(text);
    std::set<std::string> names;
    for (const HelpTopic &topic : help.topics) {
        EXPECT_TRUE(names.insert(topic.name).second) << "topic @" << topic.name << " twice";
        EXPECT_FALSE(topic.title.empty()) << "@" << topic.name << " has no $ title line";
    }
    EXPECT_EQ(names.count("Contents"), 1u) << "F1 shows the Contents topic";
    for (const HelpTopic &topic : help.topics) {
        for (const std::string &link : topic.links) {
            EXPECT_EQ(names.count(link), 1u) << "@" << topic.name << " links to no topic " << link;
        }
    }
}

TEST(HelpFileTest, RenderingDropsTheMarkupAndStartsWithContents) {
    const HelpFile help = ParseHelpFile(".Language=English,English\r\n@Keys\r\n$ #Keys#\r\n"
                                        " #F5# copies; see ~Contents~@Contents@, 50%% ## @@\r\n"
                                        "@Contents\r\n$ #qVORK#\r\n ~Keys~@Keys@\r\n");
    EXPECT_EQ(help.language, "English,English");
    EXPECT_EQ(RenderHelp(help), "qVORK\n=====\n Keys\n\nKeys\n====\n"
                                " F5 copies; see Contents, 50%% # @\n\n");
}

} // namespace
} // namespace qvork_host

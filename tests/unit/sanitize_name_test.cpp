// Names written to disk: every name becomes one valid path component inside
// its folder (reserved and control characters, names of dots and spaces,
// trailing dots and spaces, device names), and a text longer than 260
// characters is cut to 259. Every case runs in a buffer with canary bytes
// behind it, so a write past the given room shows.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "extract/sanitize_name.h"

namespace qvork_test {
namespace {

const char kCanary = static_cast<char>(0xBD);
const size_t kCanaryBytes = 16;

// Runs SanitizeName on `text` in a buffer of `room` bytes followed by
// canaries; fails the test when a canary changed.
std::string Sanitize(const std::string &text, int replace, size_t room = 0) {
    if (room == 0) room = text.size() + 2; // what the copy-out path leaves at least
    std::vector<char> buffer(room + kCanaryBytes, kCanary);
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    SanitizeName(buffer.data(), room, replace);
    for (size_t i = room; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], kCanary) << "written past the room at +" << i - room;
    const void *end = std::memchr(buffer.data(), 0, room);
    EXPECT_NE(end, nullptr) << "no terminator within the room";
    return end ? std::string(buffer.data(), static_cast<const char *>(end) - buffer.data())
               : std::string();
}

struct NameCase {
    std::string in;
    std::string out;
};

void PrintTo(const NameCase &c, std::ostream *out) {
    *out << '"';
    for (unsigned char ch : c.in) {
        if (ch < 32 || ch >= 127)
            *out << "\\x" << std::hex << static_cast<int>(ch) << std::dec;
        else
            *out << ch;
    }
    *out << '"';
}

class NameModeTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameModeTest, NameBecomesOneSafeComponent) {
    EXPECT_EQ(Sanitize(GetParam().in, 1), GetParam().out);
}

std::vector<NameCase> ReservedCharacterCases() {
    std::vector<NameCase> cases;
    for (char c : std::string("?+*:|\\/\"<>")) cases.push_back({std::string("a") + c + "b", "a-b"});
    for (int c = 1; c < 32; ++c)
        cases.push_back({std::string("x") + static_cast<char>(c) + "y", "x-y"});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ReservedCharacters, NameModeTest,
                         ::testing::ValuesIn(ReservedCharacterCases()));

INSTANTIATE_TEST_SUITE_P(
    Names, NameModeTest,
    ::testing::Values(
        // Left alone.
        NameCase{"index.html", "index.html"}, NameCase{".hidden", ".hidden"},
        NameCase{" lead", " lead"}, NameCase{"a.b c", "a.b c"}, NameCase{"a=b&c", "a=b&c"},
        NameCase{"caf\xe9\x7f", "caf\xe9\x7f"}, NameCase{"", "-"},
        // Every reserved character, repeated.
        NameCase{"q?x=1+2*3:4|5", "q-x=1-2-3-4-5"}, NameCase{"name:port", "name-port"},
        NameCase{"??", "--"}, NameCase{"a\\..\\b", "a-..-b"}, NameCase{"../x", "..-x"},
        // Only dots and spaces: reaching the folder itself or its parent.
        NameCase{".", "-"}, NameCase{"..", "--"}, NameCase{"...", "---"}, NameCase{". .", "---"},
        NameCase{" ", "-"}, NameCase{"  ", "--"}, NameCase{" .", "--"},
        // A trailing dot or space, which Windows drops.
        NameCase{"a.", "a-"}, NameCase{"a ", "a-"}, NameCase{"a\x01.", "a--"},
        // Device names in any case, judged before the first dot.
        NameCase{"CON", "_CON"}, NameCase{"con", "_con"}, NameCase{"cOn", "_cOn"},
        NameCase{"PRN", "_PRN"}, NameCase{"AUX", "_AUX"}, NameCase{"NUL", "_NUL"},
        NameCase{"COM1", "_COM1"}, NameCase{"com5", "_com5"}, NameCase{"COM9", "_COM9"},
        NameCase{"LPT1", "_LPT1"}, NameCase{"lpt9", "_lpt9"}, NameCase{"CONIN$", "_CONIN$"},
        NameCase{"conout$", "_conout$"}, NameCase{"nul.txt", "_nul.txt"},
        NameCase{"Con.tar.gz", "_Con.tar.gz"}, NameCase{"aux .txt", "_aux .txt"},
        NameCase{"PRN ", "_PRN-"}, NameCase{"com1.", "_com1-"},
        // Windows takes ports numbered in superscript (Western code page) too.
        NameCase{"COM\xB9", "_COM\xB9"}, NameCase{"lpt\xB3.txt", "_lpt\xB3.txt"},
        // Not device names.
        NameCase{"COM0", "COM0"}, NameCase{"COM10", "COM10"}, NameCase{"LPT", "LPT"},
        NameCase{"CONX", "CONX"}, NameCase{"XCON", "XCON"}, NameCase{"CO", "CO"},
        NameCase{"COM\xB4", "COM\xB4"}, NameCase{"AUX\xB9", "AUX\xB9"},
        NameCase{"NULL", "NULL"}, NameCase{"CONIN", "CONIN"}, NameCase{"a.con", "a.con"},
        NameCase{" con", " con"}));

// Several trailing dots and spaces: however many are replaced, the name no
// longer ends in one and keeps its own characters before them.
TEST(SanitizeNameTest, NoNameEndsInADotOrSpace) {
    for (const std::string in : {"a..", "a. .", "a  ", "x . ", "dir...   "}) {
        SCOPED_TRACE(in);
        const std::string out = Sanitize(in, 1);
        ASSERT_EQ(out.size(), in.size());
        EXPECT_NE(out.back(), '.');
        EXPECT_NE(out.back(), ' ');
        const size_t kept = in.find_last_not_of(". ") + 1;
        EXPECT_EQ(out.substr(0, kept), in.substr(0, kept));
        EXPECT_EQ(out.find_first_not_of("-. ", kept), std::string::npos);
    }
}

// The path mode only caps the length: nothing in it is replaced.
TEST(SanitizeNameTest, PathModeOnlyCapsTheLength) {
    for (const std::string in :
         {"C:\\dest\\a?b", "/tmp/out\\..\\x", "CON", "..", "a.", "x\x01y", "name:port"}) {
        SCOPED_TRACE(in);
        EXPECT_EQ(Sanitize(in, 0), in);
    }
}

// Found by fuzz_extract (fuzz/regressions/fuzz_extract/path-cut-*): cutting a
// long path through its last name could leave "..", ".", a trailing dot or
// a device name there, and the copy then reached the folder's parent, the
// folder itself, another file or a device.
TEST(SanitizeNameTest, PathCutLeavesASafeLastName) {
    struct {
        const char *tail; // the last name; the cut at 259 characters keeps `kept` of it
        size_t kept;
        const char *end;  // what the cut path then ends with
    } cases[] = {
        {"..Bxxxx", 2, "\\--"},
        {".xxxxxx", 1, "\\-"},
        {"b.xxxxx", 2, "\\b-"},
        {"b xxxxx", 2, "\\b-"},
        {"CONxxxx", 3, "\\_CON"},
        {"nul.txt", 3, "\\_nul"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tail);
        const std::string folder = "C:\\d\\" + std::string(259 - 6 - c.kept, 'A') + "\\";
        ASSERT_EQ(folder.size(), 259 - c.kept);
        const std::string out = Sanitize(folder + c.tail, 0, 2048);
        ASSERT_GE(out.size(), std::strlen(c.end));
        EXPECT_EQ(out.substr(out.size() - std::strlen(c.end)), c.end);
        EXPECT_LE(out.size(), 260u);
    }
}

std::string Pattern(size_t length) {
    std::string text(length, 'x');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

TEST(SanitizeNameTest, TextsOver260CharactersAreCutTo259) {
    struct {
        size_t length;
        size_t kept;
    } const cases[] = {{259, 259}, {260, 260}, {261, 259}, {262, 259}, {300, 259}, {2047, 259}};
    for (const auto &c : cases) {
        for (int replace : {0, 1}) {
            SCOPED_TRACE(std::to_string(c.length) + (replace ? " name" : " path"));
            EXPECT_EQ(Sanitize(Pattern(c.length), replace), Pattern(c.kept));
        }
    }
}

TEST(SanitizeNameTest, CutAndReplaceTogether) {
    std::string in = Pattern(261);
    in[10] = '?';
    in[258] = '.'; // the last character kept
    std::string out = Pattern(259);
    out[10] = '-';
    out[258] = '-';
    EXPECT_EQ(Sanitize(in, 1), out);
    // A cut that leaves a trailing space behind.
    std::string spaced = Pattern(300);
    spaced[258] = ' ';
    EXPECT_EQ(Sanitize(spaced, 1).back(), '-');
}

TEST(SanitizeNameTest, DeviceNameAtTheLengthLimitStaysWithinIt) {
    const std::string in = "nul." + Pattern(256); // 260 characters
    const std::string out = Sanitize(in, 1, 300);
    EXPECT_LE(out.size(), 260u);
    EXPECT_EQ(out.rfind("_nul.", 0), 0u);
}

// With no room for the "_", the name must still not name a device, and
// nothing is written past the room.
TEST(SanitizeNameTest, DeviceNameWithoutRoomForThePrefix) {
    for (const std::string in : {"CON", "nul.txt", "COM1", "conout$"}) {
        SCOPED_TRACE(in);
        const std::string out = Sanitize(in, 1, in.size() + 1);
        ASSERT_FALSE(out.empty());
        std::string stem = out.substr(0, out.find('.'));
        for (char &c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const char *device : {"CON", "NUL", "COM1", "CONOUT$"}) EXPECT_NE(stem, device);
    }
    EXPECT_EQ(Sanitize("CON", 1, 5), "_CON") << "exactly enough room";
}

// ---- ReplaceChars ------------------------------------------------------------------

TEST(ReplaceCharsTest, EveryOccurrenceOfEveryCharacterOfTheSet) {
    struct {
        const char *text;
        const char *set;
        char replacement;
        const char *out;
    } const cases[] = {
        {"a?b?c", "?", '-', "a-b-c"},
        {"??", "?", '-', "--"},
        {"a?b+c*d:e|f", "?+*:|", '-', "a-b-c-d-e-f"},
        {"abc", "", '-', "abc"},
        {"", "?", '-', ""},
        {"a-b", "-", '-', "a-b"},   // the replacement is in the set
        {"aab", "ab", 'b', "bbb"},  // replaced characters are searched again
        {"xyx", "x", 'y', "yyy"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back(0);
        buffer.insert(buffer.end(), kCanaryBytes, kCanary);
        ReplaceChars(buffer.data(), c.set, c.replacement);
        EXPECT_STREQ(buffer.data(), c.out);
        for (size_t i = text.size() + 1; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kCanary);
    }
}

} // namespace
} // namespace qvork_test

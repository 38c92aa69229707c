// Win32 wildcard rules of FindFirstFileA, checked name by name. The plug-in
// lists site files with "cache*.": names that start with "cache" and have no
// extension.
#include <gtest/gtest.h>

#include "platform/linux/find_file_seam.h"

namespace {

struct WildcardCase {
    const char *pattern;
    const char *name;
    bool matches;
};

const WildcardCase kCases[] = {
    // The plug-in's own pattern.
    {"cache*.", "cache12", true},
    {"cache*.", "Cache7", true},
    {"cache*.", "CACHE7", true},
    {"cache*.", "cache", true},
    {"cache*.", "cache 3", true},
    {"cache*.", "cachefolder", true},
    {"cache*.", "cache12.tmp", false},
    {"cache*.", "cache.1", false},
    {"cache*.", "cache1.", true},
    {"cache*.", "cache.1.", true},
    {"a.b*.", "a.bc", true},
    {"cache*.", "cachedir.x", false},
    {"cache*.", "cach", false},
    {"cache*.", "xcache1", false},
    {"cache*.", ".", false},
    {"cache*.", "..", false},
    // A plain star takes dots too; "*.*" is the same as "*".
    {"*", "a.b.c", true},
    {"*", ".", true},
    {"*", "..", true},
    {"*.*", "noext", true},
    {"*.*", "a.b", true},
    // "*." keeps extensionless names (and the two dot entries, as on Windows).
    {"*.", "readme", true},
    {"*.", "readme.txt", false},
    {"*.", ".", true},
    {"*.", "..", true},
    // A star before a dot never swallows the name's last dot.
    {"*.txt", "a.txt", true},
    {"*.txt", "A.TXT", true},
    {"*.txt", "a.b.txt", true},
    {"*.txt", "a.txt.bak", false},
    {"*.txt", "txt", false},
    // "?" is one character, or none at a dot or at the end of the name.
    {"cache?", "cache1", true},
    {"cache?", "cache", true},
    {"cache?", "cache12", false},
    {"a?.txt", "ab.txt", true},
    {"a?.txt", "a.txt", true},
    {"a?.txt", "abc.txt", false},
    // Letters compare without case, other bytes exactly.
    {"CaChE12", "cache12", true},
    {"caf\xc3\xa9", "CAF\xc3\xa9", true},
    {"caf\xc3\xa9", "caf\xc3\x89", false},
    {"my cache", "My Cache", true},
};

TEST(Wildcard, MatchesLikeWin32)
{
    for (const WildcardCase &c : kCases)
        EXPECT_EQ(MatchesWin32Pattern(c.pattern, c.name) != 0, c.matches)
            << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
}

TEST(Wildcard, LongPatternsMatchNothingAndDoNotOverrun)
{
    std::string longPattern(400, '*');
    EXPECT_FALSE(MatchesWin32Pattern(longPattern.c_str(), "cache1"));
    std::string longName(5000, 'a');
    EXPECT_TRUE(MatchesWin32Pattern("a*", longName.c_str()));
    EXPECT_FALSE(MatchesWin32Pattern("a*.", (longName + ".x").c_str()));
}

} // namespace

// make_demo's pieces: the body decoders the demo's text relies on, faults
// reported with file and line, and never touching a cache it did not make.
#include <gtest/gtest.h>

#include <stdexcept>

#include "demo_cache.h"
#include "temp_cache.h"

namespace qvork_test {
namespace {

TEST(DemoCacheTest, DecodersIgnoreWhitespaceAndCommentLines) {
    EXPECT_EQ(qvork_demo::DecodeHex("# a comment\n47 49\n46\r\n"), "GIF");
    EXPECT_EQ(qvork_demo::DecodeHex("00ff"), std::string("\0\xff", 2));
    EXPECT_EQ(qvork_demo::DecodeBase64("R0lG\nODlh\n"), "GIF89a");
    EXPECT_EQ(qvork_demo::DecodeBase64("# c\nYQ=="), "a");
    EXPECT_EQ(qvork_demo::DecodeBase64("YWI="), "ab");
    EXPECT_THROW(qvork_demo::DecodeHex("abc"), std::runtime_error);
    EXPECT_THROW(qvork_demo::DecodeHex("zz"), std::runtime_error);
    EXPECT_THROW(qvork_demo::DecodeBase64("a*b="), std::runtime_error);
}

TEST(DemoCacheTest, NeverTouchesAnIcacheFolderItDidNotMake) {
    TempDir demo, out;
    WriteBytes(demo.Path() / "cache.txt", "cache1 raw note.txt\n");
    std::filesystem::create_directories(demo.Path() / "files");
    WriteBytes(demo.Path() / "files" / "note.txt", "hello");
    std::filesystem::create_directories(out.Path() / "icache");
    WriteBytes(out.Path() / "icache" / "cache7", "someone's real cache");

    EXPECT_THROW(qvork_demo::BuildDemoCache(demo.Path(), out.Path()), std::runtime_error);
    EXPECT_TRUE(std::filesystem::exists(out.Path() / "icache" / "cache7"));
}

TEST(DemoCacheTest, RebuildsItsOwnFolderAndNamesTheFaultyLine) {
    TempDir demo, out;
    WriteBytes(demo.Path() / "cache.txt", "# files\ncache1 raw note.txt\n");
    std::filesystem::create_directories(demo.Path() / "files");
    WriteBytes(demo.Path() / "files" / "note.txt", "hello");
    ASSERT_EQ(qvork_demo::BuildDemoCache(demo.Path(), out.Path()).size(), 1u);
    WriteBytes(out.Path() / "icache" / "cache9", "left over");

    ASSERT_EQ(qvork_demo::BuildDemoCache(demo.Path(), out.Path()).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(out.Path() / "icache" / "cache9"));
    EXPECT_TRUE(std::filesystem::exists(out.Path() / "icache" / "cache1"));

    WriteBytes(demo.Path() / "cache.txt", "cache1 raw note.txt\ncache2 copy note.txt\n");
    try {
        qvork_demo::BuildDemoCache(demo.Path(), out.Path());
        FAIL() << "an unknown kind must be refused";
    } catch (const std::runtime_error &error) {
        EXPECT_NE(std::string(error.what()).find("cache.txt:2:"), std::string::npos)
            << error.what();
    }
}

} // namespace
} // namespace qvork_test

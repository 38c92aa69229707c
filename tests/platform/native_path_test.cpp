// Win32 finds an existing file whatever the case of its name; the layer
// must too, or a site file listed as CACHE7 and reopened by number as
// cache7 is lost on Linux (seen against Wine in the parity check).
#include <string.h>

#include <fstream>

#include <gtest/gtest.h>

#include "platform/linux/native_path.h"
#include "platform/stream.h"
#include "temp_folder.h"

namespace {

void Touch(const std::string &path, const char *text)
{
    std::ofstream(path) << text;
}

TEST(NativePathTest, ExistingNamesAreFoundWhateverTheirCase)
{
    TempFolder folder;
    std::filesystem::create_directory(folder / "Icache");
    Touch(folder / "Icache/CACHE7", "seven");
    char native[NATIVE_PATH_SIZE];

    ASSERT_TRUE(ToExistingNativePath((folder.Path() + "\\icache\\cache7").c_str(), native,
                                     sizeof native));
    EXPECT_EQ(std::string(native), folder / "Icache/CACHE7");

    FILE *stream = OpenStream((folder.Path() + "\\ICACHE\\Cache7").c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    char text[8] = {};
    EXPECT_EQ(ReadStream(stream, text, sizeof text), 5u);
    EXPECT_STREQ(text, "seven");
    EXPECT_TRUE(CloseStream(stream));

    EXPECT_TRUE(DeleteFileA((folder.Path() + "/icache/cache7").c_str()));
    EXPECT_FALSE(std::filesystem::exists(folder / "Icache/CACHE7"));
}

TEST(NativePathTest, ExactNamesWinAndNewFilesKeepTheNameGiven)
{
    TempFolder folder;
    Touch(folder / "a.html", "lower");
    Touch(folder / "A.html", "upper");
    char native[NATIVE_PATH_SIZE];
    ASSERT_TRUE(ToExistingNativePath((folder / "A.html").c_str(), native, sizeof native));
    EXPECT_EQ(std::string(native), folder / "A.html");

    // A missing name stays as given, so writing creates exactly that name.
    ASSERT_TRUE(ToExistingNativePath((folder / "New.txt").c_str(), native, sizeof native));
    EXPECT_EQ(std::string(native), folder / "New.txt");
    FILE *stream = OpenStream((folder / "b.HTML").c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(CloseStream(stream));
    EXPECT_TRUE(std::filesystem::exists(folder / "b.HTML"));
}

} // namespace

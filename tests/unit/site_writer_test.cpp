// The test harness's site-file writer, checked against the reader's rules:
// header fields at their offsets, records chained by recordLength, and a
// bodyLength of dataLength - 10 - (separator index - header index) equal to
// the body written. Every other test trusts these files.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "site_writer.h"

namespace qvork_test {
namespace {

uint32_t LE32(const std::string &bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes.at(offset + i));
    return value;
}

uint16_t LE16(const std::string &bytes, size_t offset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes.at(offset)) |
                                 static_cast<uint8_t>(bytes.at(offset + 1)) << 8);
}

TEST(SiteWriterTest, HeaderFieldsLieWhereTheReaderLooks) {
    const SiteFileImage image = BuildSiteFile("news.example.org", {OkRecord("/", "x")});
    EXPECT_EQ(image.bytes.substr(0, 4), std::string("\x67\x6B\x04\x00", 4));
    EXPECT_EQ(LE16(image.bytes, kRecordCountOffset), 3);
    EXPECT_EQ(LE32(image.bytes, kNameLengthOffset), 16u);
    EXPECT_EQ(image.bytes.substr(kNameOffset, 16), "news.example.org");
    EXPECT_EQ(kSiteBlockOffset + LE32(image.bytes, kSiteBlockOffset), image.records[0].start);
}

TEST(SiteWriterTest, RecordWalkFindsEveryBodyWhereItWasWritten) {
    const std::vector<SiteRecord> records = {
        OkRecord("/index.html", "<html>home</html>"),
        OkRecord("/img/logo.gif", std::string("GIF89a\0\x01\0\x01", 10), "image/gif"),
        OkRecord("/empty", ""),
    };
    const SiteFileImage image = BuildSiteFile("s", records);
    ASSERT_EQ(image.records.size(), records.size());

    int64_t p = kSiteBlockOffset + LE32(image.bytes, kSiteBlockOffset);
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(records[i].url);
        ASSERT_GE(image.bytes.size(), static_cast<size_t>(p) + kReadWindow)
            << "every record's window lies inside the file";
        const std::string window = image.bytes.substr(p, kReadWindow);
        const int32_t urlLength = static_cast<int32_t>(LE32(window, kRecordUrlLengthOffset));
        EXPECT_EQ(window.substr(kRecordUrlOffset, urlLength), records[i].url);
        const int32_t dataLength =
            static_cast<int32_t>(LE32(window, kRecordDataLengthOffset + urlLength));
        const size_t h = kRecordHeaderOffset + urlLength;
        const size_t s = window.find(kHeaderSeparator, h);
        ASSERT_NE(s, std::string::npos);
        EXPECT_EQ(window.substr(h, s - h), records[i].header);
        const int64_t bodyLength = dataLength - kDataLengthExtra - static_cast<int64_t>(s - h);
        const int64_t bodyOffset = p + static_cast<int64_t>(s) + 4;
        EXPECT_EQ(bodyLength, static_cast<int64_t>(records[i].body.size()));
        EXPECT_EQ(image.bytes.substr(bodyOffset, bodyLength), records[i].body);
        EXPECT_EQ(image.records[i].start, p);
        EXPECT_EQ(image.records[i].headerOffset, p + static_cast<int64_t>(h));
        EXPECT_EQ(image.records[i].bodyOffset, bodyOffset);
        p += static_cast<int32_t>(LE32(window, 0));
    }
}

TEST(SiteWriterTest, OverridesReplaceExactlyTheirField) {
    SiteRecord record = OkRecord("/a", "body");
    record.recordLength = -5;
    record.urlLength = 1025;
    record.dataLength = 7;
    record.omitSeparator = true;
    SiteFileOptions options;
    options.magic = 1;
    options.recordCount = 0;
    options.siteBlockLength = 3;
    options.nameLength = -1;
    options.padTail = false;
    const SiteFileImage image = BuildSiteFile("name", {record}, options);

    EXPECT_EQ(LE32(image.bytes, 0), 1u);
    EXPECT_EQ(LE16(image.bytes, kRecordCountOffset), 0);
    EXPECT_EQ(LE32(image.bytes, kSiteBlockOffset), 3u);
    EXPECT_EQ(static_cast<int32_t>(LE32(image.bytes, kNameLengthOffset)), -1);
    const size_t p = static_cast<size_t>(image.records[0].start);
    EXPECT_EQ(p, kNameOffset + 4u) << "the record still follows the name";
    EXPECT_EQ(static_cast<int32_t>(LE32(image.bytes, p)), -5);
    EXPECT_EQ(LE32(image.bytes, p + kRecordUrlLengthOffset), 1025u);
    EXPECT_EQ(LE32(image.bytes, p + kRecordDataLengthOffset + 2), 7u);
    EXPECT_EQ(image.bytes.find(kHeaderSeparator), std::string::npos);
    EXPECT_EQ(image.bytes.size(), static_cast<size_t>(image.records[0].bodyOffset) + 4)
        << "no padding after the body";
}

TEST(SiteWriterTest, TruncationCutsTheFinishedFile) {
    SiteFileOptions options;
    options.truncateAt = 34;
    EXPECT_EQ(BuildSiteFile("s", {OkRecord("/", "x")}, options).bytes.size(), 34u);
}

} // namespace
} // namespace qvork_test

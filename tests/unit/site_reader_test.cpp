// The site file reader on damaged and well-formed site files: what each
// record reports (status, URL, extents) and why the walk ends, including
// files larger than the read-ahead block and records too far apart for it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cache/site_reader.h"
#include "site_writer.h"

namespace qvork_test {
namespace {

struct ReaderCase {
    const char *label;
    std::vector<SiteRecord> records;
    SiteFileOptions options;
    std::string expected; // per record: its status digit and URL ("-" when NULL), then the stop
    bool resume = false;  // after an early end, the walk resumes where it can ("resume")
};

void PrintTo(const ReaderCase &c, std::ostream *out) { *out << c.label; }

ReaderCase Case(const char *label, std::vector<SiteRecord> records, std::string expected,
                SiteFileOptions options = {}) {
    return {label, std::move(records), std::move(options), std::move(expected)};
}

SiteFileOptions Unpadded(std::optional<size_t> cut = std::nullopt) {
    SiteFileOptions options;
    options.padTail = false;
    options.truncateAt = cut;
    return options;
}

ReaderCase Resumed(ReaderCase c) {
    c.resume = true;
    return c;
}

std::vector<SiteRecord> Three() {
    return {OkRecord("/a", "A"), OkRecord("/b", "BB"), OkRecord("/c", "C")};
}

// The file cut `offset` bytes into record `which`.
SiteFileOptions CutInside(const std::vector<SiteRecord> &records, size_t which, size_t offset) {
    const SiteFileImage whole = BuildSiteFile("s.example", records, Unpadded());
    return Unpadded(static_cast<size_t>(whole.records[which].start) + offset);
}

std::vector<SiteRecord> With(std::vector<SiteRecord> records, size_t which,
                             void (*change)(SiteRecord &)) {
    change(records[which]);
    return records;
}

// Sizes that make records cross block boundaries and switch between the
// block and reads of their own.
std::vector<SiteRecord> Mixed(int count) {
    std::vector<SiteRecord> records;
    for (int i = 0; i < count; i++) {
        size_t size = static_cast<size_t>(i % 7 == 3 ? 70000 + i : 300 + i % 50);
        records.push_back(OkRecord("/r" + std::to_string(i), std::string(size, 'x')));
    }
    return records;
}

std::string AllOk(const std::vector<SiteRecord> &records, const char *stop) {
    std::string text;
    for (const SiteRecord &record : records) text += "0" + record.url + " ";
    return text + stop;
}

std::vector<ReaderCase> Cases() {
    std::vector<ReaderCase> cases = {
        Case("ThreeGood", Three(), "0/a 0/b 0/c count"),
        Case("CountBelowTheRecords", Three(), "0/a count", [] {
            SiteFileOptions o; o.recordCount = 3; return o; }()),
        Case("CountBeyondTheRecords", Three(), "0/a 0/b 0/c end", [] {
            SiteFileOptions o; o.recordCount = 9; o.padTail = false; return o; }()),
        // A count of no site file: as far as the records go (to the zeros
        // after them); a site of no records (2) has none.
        Case("CountZero", Three(), "0/a 0/b 0/c link", [] { SiteFileOptions o; o.recordCount = 0; return o; }()),
        Case("CountTwo", Three(), "count", [] { SiteFileOptions o; o.recordCount = 2; return o; }()),
        Case("FileEndsInsideTheFixedFields", Three(), "0/a 0/b 2- end",
             CutInside(Three(), 2, 12)),
        Case("FileEndsInsideTheUrl", Three(), "0/a 0/b 2- end", CutInside(Three(), 2, 21)),
        Case("BodyPastTheFileEnd", With(Three(), 2, [](SiteRecord &r) { r.dataLength = 5000; }),
             "0/a 0/b 2/c count", Unpadded()),
        Case("DataLengthBelowTheHeader", With(Three(), 1, [](SiteRecord &r) { r.dataLength = 4; }),
             "0/a 3/b 0/c count"),
        Case("HeaderWithoutStatusLine", With(Three(), 1, [](SiteRecord &r) { r.header = ""; }),
             "0/a 0/b 0/c count"),
        // Its body cut by the file's end: a record cut short, not bytes that
        // are no record.
        Case("HeaderWithoutStatusLineCut", With(Three(), 2, [](SiteRecord &r) { r.header = ""; r.body = "CCCC"; }),
             "0/a 0/b 2/c count", CutInside(With(Three(), 2, [](SiteRecord &r) { r.header = ""; r.body = "CCCC"; }), 2, 46)),
        // A URL length field alone past the window: no header after such a
        // URL, so no record, and the walk looks one further, at the zeros
        // after the last record.
        Case("UrlLength986", With(Three(), 1, [](SiteRecord &r) { r.urlLength = 986; }),
             "0/a 1- 0/c link"),
        Case("UrlLengthNegative", With(Three(), 0, [](SiteRecord &r) { r.urlLength = -1; }),
             "1- 0/b 0/c link"),
        Case("RecordLengthZero", With(Three(), 1, [](SiteRecord &r) { r.recordLength = 0; }),
             "0/a 0/b link"),
        Case("RecordLengthNegative", With(Three(), 0, [](SiteRecord &r) { r.recordLength = -40; }),
             "0/a link"),
        Case("RecordLengthPast2GiB",
             With(Three(), 0, [](SiteRecord &r) { r.recordLength = 0x7FFFFF00; }), "0/a link"),
        // A link 8 bytes into its own record, where no record starts, while
        // one does where the record's data ends: a broken link, and no record
        // is made of the bytes there.
        Case("RecordsOverlap", With(Three(), 0, [](SiteRecord &r) { r.recordLength = 8; }),
             "0/a link"),
        Resumed(Case("RecordsOverlapResumed", With(Three(), 0, [](SiteRecord &r) { r.recordLength = 8; }),
                     "0/a resume 0/b 0/c count")),
        Case("SiteBlockPastTheFile", Three(), "link", [] {
            SiteFileOptions o; o.siteBlockLength = 0x7FFFFF00; return o; }()),
        Case("FileShorterThanItsHeader", Three(), "end", Unpadded(18)),
    };
    // Headers whose end lies past the window: of a record with no body,
    // after a URL of the longest length read, of a record whose link is
    // broken (the record's length then bounds nothing).
    std::vector<SiteRecord> longHeaders = {OkRecord("/e", ""), OkRecord("/" + std::string(984, 'u'), "body"),
                                           OkRecord("/b", "BBBB")};
    longHeaders[0].header += "\r\nX-Long: " + std::string(1500, 'x');
    longHeaders[2].header += "\r\nX-Long: " + std::string(1500, 'x');
    longHeaders[2].recordLength = 0;
    cases.push_back(Case("HeadersPastTheWindow", longHeaders,
                         "0/e 0" + longHeaders[1].url + " 0/b link"));
    // Past a broken link the next plausible record start is looked for.
    cases.push_back(Resumed(Case("ResumedPastAZeroLink",
                                 With(Three(), 1, [](SiteRecord &r) { r.recordLength = 0; }),
                                 "0/a 0/b resume 0/c count")));
    cases.push_back(Resumed(Case("ResumedPastALinkBeyondTheFile",
                                 With(Three(), 0, [](SiteRecord &r) { r.recordLength = 0x7FFFFF00; }),
                                 "0/a resume 0/b 0/c count")));
    cases.push_back(Resumed(Case("NothingToResumeInACutTail", Three(), "0/a 0/b 2- end",
                                 CutInside(Three(), 2, 21))));
    cases.push_back(Resumed(Case("NoResumeAfterTheCount", Three(), "0/a count", [] {
        SiteFileOptions o; o.recordCount = 3; return o; }())));
    // Nothing is looked for in the body of a record whose link alone broke,
    // nor in that of a last record that reads.
    std::vector<SiteRecord> hidden = Three();
    hidden[1].body = BuildSiteFile("x.example", {OkRecord("/fake", "F")}).bytes;
    hidden[1].recordLength = 0;
    cases.push_back(Resumed(Case("NoRecordTakenFromABody", hidden, "0/a 0/b resume 0/c count")));

    std::vector<SiteRecord> tail = Three();
    tail[2].body = hidden[1].body;
    cases.push_back(Resumed(Case("NoRecordTakenFromTheLastBody", tail, "0/a 0/b 0/c end", [] {
        SiteFileOptions o; o.recordCount = 9; o.padTail = false; return o; }())));
    std::vector<SiteRecord> mixed = Mixed(300);
    cases.push_back(Case("RecordsAcrossBlocks", mixed, AllOk(mixed, "count")));
    std::vector<SiteRecord> broken = mixed;
    broken[3].recordLength = -1; // its body of 70003 bytes lies before the next record
    std::string resumed = AllOk(broken, "count");
    resumed.insert(resumed.find("0/r4 "), "resume ");
    cases.push_back(Resumed(Case("ResumedAcrossBlocks", broken, resumed)));
    std::vector<SiteRecord> small(mixed.begin(), mixed.begin() + 3);
    small.insert(small.end(), 500, OkRecord("/s", "s"));
    cases.push_back(Case("SmallRecordsToTheFileEnd", small, AllOk(small, "count"), Unpadded()));
    return cases;
}

// A temporary file holding `image`, or null.
FILE *FileHolding(const SiteFileImage &image) {
    FILE *file = tmpfile();
    if (file != nullptr && (fwrite(image.bytes.data(), 1, image.bytes.size(), file) != image.bytes.size() ||
                            fflush(file) != 0)) {
        fclose(file);
        file = nullptr;
    }
    return file;
}

const char *StopName(int stop) {
    switch (stop) {
    case SITE_STOP_COUNT: return "count";
    case SITE_STOP_END_OF_FILE: return "end";
    case SITE_STOP_BAD_LINK: return "link";
    default: return "none";
    }
}

class SiteReaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(SiteReaderTest, ReportsEachRecordAndWhyTheWalkEnds) {
    const ReaderCase &c = GetParam();
    const SiteFileImage image = BuildSiteFile("s.example", c.records, c.options);
    FILE *file = FileHolding(image);
    ASSERT_NE(file, nullptr);

    SiteReader reader;
    SiteReaderOpen(&reader, file);
    EXPECT_TRUE(reader.isSite);
    std::string seen;
    SiteRecordEntry entry;
    size_t good = 0;
    for (;;) {
        if (!SiteReaderNext(&reader, &entry)) {
            if (!c.resume || !SiteReaderResume(&reader)) break;
            seen += "resume ";
            continue;
        }
        seen += std::to_string(entry.status) + (entry.url != nullptr ? entry.url : "-") + " ";
        if (entry.status != SITE_RECORD_OK) continue;
        // A good record's extents are where the writer put them.
        while (good < image.records.size() && image.records[good].start != entry.position) good++;
        ASSERT_LT(good, image.records.size()) << entry.url;
        const RecordPlacement &placement = image.records[good];
        EXPECT_EQ(entry.headerOffset, placement.headerOffset) << entry.url;
        EXPECT_EQ(entry.bodyOffset, placement.bodyOffset) << entry.url;
        EXPECT_EQ(entry.bodyLength, placement.bodyLength) << entry.url;
        EXPECT_EQ(entry.headerOffset + entry.headerLength + 4, entry.bodyOffset) << entry.url;
    }
    EXPECT_EQ(seen + StopName(reader.stop), c.expected);
    EXPECT_FALSE(SiteReaderNext(&reader, &entry)); // ended stays ended
    SiteReaderClose(&reader);
    fclose(file);
}

INSTANTIATE_TEST_SUITE_P(Damage, SiteReaderTest, ::testing::ValuesIn(Cases()),
                         [](const auto &info) { return std::string(info.param.label); });

// The URLs a walk that resumes wherever it can returns, in order.
std::string ResumedWalk(const SiteFileImage &image) {
    FILE *file = FileHolding(image);
    if (file == nullptr) return "no file";
    SiteReader reader;
    SiteReaderOpen(&reader, file);
    std::string seen;
    SiteRecordEntry entry;
    while (SiteReaderNext(&reader, &entry) || SiteReaderResume(&reader)) {
        if (entry.url != nullptr) seen += std::string(entry.url) + " ";
    }
    SiteReaderClose(&reader);
    fclose(file);
    return seen;
}

std::string ResumedWalk(const std::vector<SiteRecord> &records, const SiteFileOptions &options = {}) {
    return ResumedWalk(BuildSiteFile("s.example", records, options));
}

TEST(SiteReaderResumeTest, TheRecordsOfADamagedSpanAreNeitherHiddenNorInvented) {
    const std::vector<SiteRecord> four = {OkRecord("/a", "A"), OkRecord("/b", "B"), OkRecord("/c", "C"),
                                          OkRecord("/d", "D")};
    // A data length reaching into the records after the broken one: not
    // borne out by a record at its end, so they are looked for from its start.
    std::vector<SiteRecord> records = four;
    records[1].recordLength = 0;
    records[1].dataLength = static_cast<int32_t>(10 + records[1].header.size() + 1 + 120);
    EXPECT_EQ(ResumedWalk(records), "/a /b /c /d ");
    // A record whose header holds a zero byte (no separator found) and whose
    // body holds a site file: its data ends with the separator's 4 bytes too.
    records = four;
    records[1].header += std::string("\0", 1);
    records[1].body = BuildSiteFile("x.example", {OkRecord("/fake", "F")}).bytes;
    records[1].recordLength = 0;
    EXPECT_EQ(ResumedWalk(records), "/a /b /c /d ");
    // A link that lands in the next record's body (a changed bit): the walk
    // goes on where the data ends, and no record is made of body bytes.
    records = four;
    records[2].body = std::string(300, 'x');
    const SiteFileImage whole = BuildSiteFile("s.example", records);
    records[1].recordLength = static_cast<int32_t>(whole.records[2].bodyOffset + 100 - whole.records[1].start);
    EXPECT_EQ(ResumedWalk(records), "/a /b /c /d ");
    // Padding between records (a link beside the data end onto a record)
    // is followed as it is.
    records = four;
    records[1].trailer = std::string(64, 'x');
    EXPECT_EQ(ResumedWalk(records), "/a /b /c /d ");
    // A link into zeros after a record's data: no record there, and none
    // counted, so the last record is still read.
    records[1].trailer = std::string(64, '\0');
    const SiteFileImage padded = BuildSiteFile("s.example", records);
    records[1].recordLength = static_cast<int32_t>(padded.records[2].start - padded.records[1].start - 32);
    EXPECT_EQ(ResumedWalk(records), "/a /b /c /d ");
    // A link past the next record into its body, which reads as an
    // over-long URL with no header after it: the search goes on from the
    // record before it, and the last record still has its place.
    records[1].recordLength = static_cast<int32_t>(padded.records[2].bodyOffset + 2 - padded.records[1].start);
    records[2].body = std::string(300, 'x');
    EXPECT_EQ(ResumedWalk(records), "/a /b /c /d ");
    SiteFileOptions spare;
    // Bytes slipped in after a body (a copy gone wrong): the links before
    // them end short, on bytes that are no record, and the search finds the
    // next record after them.
    records = four;
    records[0].trailer = "\x79\x2f\x81\x7c\xd1";
    const SiteFileImage slipped = BuildSiteFile("s.example", records);
    records[0].recordLength = static_cast<int32_t>(slipped.records[1].start - slipped.records[0].start - 5);
    EXPECT_EQ(ResumedWalk(records), "/a /b /c /d ");
    // A record of a URL too long to read, whose link is broken: the search
    // goes on after it, not in the body before it.
    records = four;
    records[0].body = BuildSiteFile("x.example", {OkRecord("/fake", "F")}).bytes;
    records[1].url = "/" + std::string(1100, 'l');
    records[1].recordLength = 0;
    EXPECT_EQ(ResumedWalk(records), "/a /c /d ");
    // A block lost from a body (a file put together from what a disk
    // gave): the records after it lie earlier than the lengths say.
    records = four;
    records[0].body = std::string(2000, 'a');
    SiteFileImage cut = BuildSiteFile("s.example", records);
    cut.bytes.erase(cut.bytes.begin() + static_cast<std::ptrdiff_t>(cut.records[0].bodyOffset + 100),
                    cut.bytes.begin() + static_cast<std::ptrdiff_t>(cut.records[0].bodyOffset + 612));
    EXPECT_EQ(ResumedWalk(cut), "/a /b /c /d ");
    // A zeroed record start after a body holding a site file: the search
    // goes on from where that body ends, not inside it.
    records = four;
    records[1].body = BuildSiteFile("x.example", {OkRecord("/fake", "F")}).bytes + std::string(200, 'p');
    SiteFileImage zeroed = BuildSiteFile("s.example", records);
    std::fill_n(zeroed.bytes.begin() + zeroed.records[2].start, 64, '\0');
    EXPECT_EQ(ResumedWalk(zeroed), "/a /b /d ");
    // A broken first link: the records start where the site's name ends.
    // After a broken link and a data length one byte off, the search finds
    // a record whose URL is the longest read, its "HTTP/" past 1 KiB.
    records = four;
    records[0].recordLength = 0;
    records[0].dataLength = static_cast<int32_t>(10 + records[0].header.size() + 1 + 1);
    records[1].url = "/" + std::string(984, 'u');
    spare.siteBlockLength = 0;
    EXPECT_EQ(ResumedWalk(records, spare), "/a " + records[1].url + " /c /d ");
}

TEST(SiteReaderNameTest, NameIsCutToTheBufferAndAFileWithoutMagicIsNoSite) {
    SiteFileOptions options;
    options.magic = 1;
    const SiteFileImage image = BuildSiteFile("www.example.com", Three(), options);
    FILE *file = FileHolding(image);
    ASSERT_NE(file, nullptr);
    SiteReader reader;
    SiteReaderOpen(&reader, file);
    EXPECT_FALSE(reader.isSite);
    char name[8];
    EXPECT_TRUE(SiteReaderName(&reader, name, sizeof name));
    EXPECT_STREQ(name, "www.exa");
    SiteReaderClose(&reader);
    fclose(file);
}

} // namespace
} // namespace qvork_test

// Writes the cache the mount tests run against: OUTDIR/icache/
//   cache1  www.hostile.test  names a copy must change (":", "?", "..",
//           a device name, clashes numbered "~2" by files and folders), an entry with a body and children,
//           Last-Modified and Date headers, a gzip-encoded body, and 40
//           files of 70000 bytes
//   cache2  www.example.com   one page
//   cache3  broken.test       cut short in its second record
//   cache4  www.example.com   a second site of the same name, two pages
//   cache5  (no name)         one page
//   cache6  ..                a site's name a move would take: a page, a
//                             record with an over-long URL, " lead.html"
//                             beside "lead.html", a Last-Modified at 0
//   cache7  a:b, cache8 a?b   names written alike: a-b twice
//   cache9  long.test         two pages whose names the listing cuts alike, and a
//                             folder whose name fills the listing's field
//   cache10 www.example.com@cache2  named as the mount tells cache2 apart
#include <filesystem>
#include <iostream>
#include <string>

#include "compressed.h"
#include "site_writer.h"

namespace fs = std::filesystem;
using namespace qvork_test;

namespace {

SiteRecord Dated(const std::string &url, const std::string &body, const std::string &field) {
    SiteRecord record = OkRecord(url, body);
    record.header += "\r\n" + field;
    return record;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: make_mount_cache OUTDIR\n";
        return 2;
    }
    const fs::path cache = fs::path(argv[1]) / "icache";
    try {
        fs::create_directories(cache);
        std::vector<SiteRecord> hostile = {
            Dated("index.html", "<p>home</p>\n", "Last-Modified: Mon, 01 Apr 2002 10:00:00 GMT"),
            Dated("news/today.html", "today\n", "Date: Tue, 02 Apr 2002 11:30:00 GMT"),
            OkRecord("a:b?c=1", "query\n"),
            OkRecord("dots/../evil.txt", "not outside\n"),
            OkRecord("CON.txt", "device\n"),
            OkRecord("docs", "docs body\n"),
            OkRecord("docs/page.html", "page\n"),
            OkRecord("dup?x", "first\n"),
            OkRecord("dup:x", "second\n"),
            OkRecord("dup|x", "third\n"),
            OkRecord("dup-x~2", "numbered already\n"),
            OkRecord("sub:dir/in.html", "in\n"),
            OkRecord("sub?dir", "file after folder\n"),
            OkRecord("p:1.html", "p1\n"),
            OkRecord("p?1.html", "p1 again\n"),
            OkRecord("fold:1/x.txt", "same\n"), // folders made alike, one holding more
            OkRecord("fold?1/x.txt", "same\n"),
            OkRecord("fold?1/y.txt", "only\n"),
            Dated("packed.txt", Gzipped("hello, decoded\n"), "Content-Encoding: gzip"),
        };
        for (int i = 0; i < 40; ++i) {
            hostile.push_back(OkRecord("many/f" + std::to_string(i) + ".bin",
                                       std::string(70000, static_cast<char>('a' + i % 26))));
        }
        WriteSiteFile(cache / "cache1", "www.hostile.test", hostile);
        WriteSiteFile(cache / "cache2", "www.example.com", {OkRecord("other.html", "other\n")});
        SiteFileOptions cut;
        cut.truncateAt = 1200;
        WriteSiteFile(cache / "cache3", "broken.test",
                      {OkRecord("ok.html", "fine\n"), OkRecord("lost.html", std::string(3000, 'x'))},
                      cut);
        WriteSiteFile(cache / "cache4", "www.example.com",
                      {OkRecord("a.html", "A\n"), OkRecord("img/b.gif", "GIF89a")});
        WriteSiteFile(cache / "cache5", "", {OkRecord("nameless.html", "no site name\n")});
        SiteRecord overLong = OkRecord("lost.html", "lost");
        overLong.urlLength = 2000;
        WriteSiteFile(cache / "cache6", "..",
                      {OkRecord("in-dots.html", "inside ..\n"), overLong, OkRecord(" lead.html", "lead\n"),
                       OkRecord("lead.html", "no blank\n"),
                       Dated("epoch.html", "0\n", "Last-Modified: Thu, 01 Jan 1970 00:00:00 GMT")});
        WriteSiteFile(cache / "cache7", "a:b", {OkRecord("seven.html", "7\n")});
        WriteSiteFile(cache / "cache8", "a?b", {OkRecord("eight.html", "8\n")});
        WriteSiteFile(cache / "cache10", "www.example.com@cache2", {OkRecord("ten.html", "10\n")});
        const std::string cutAlike(300, 'L'); // listed as the same first 260 bytes
        WriteSiteFile(cache / "cache9", "long.test",
                      {OkRecord(cutAlike + "-one", "one\n"), OkRecord(cutAlike + "-two", "two\n"),
                       OkRecord(std::string(260, 'F') + "/in.html", "in\n")});
    } catch (const std::exception &error) {
        std::cerr << "make_mount_cache: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

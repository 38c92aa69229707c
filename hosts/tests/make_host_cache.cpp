// Writes the small cache the host's end-to-end tests run qvork against:
// OUTDIR/icache/cache1... with known sites, and OUTDIR/expected/ holding
// each body the tests copy out, so a test compares bytes with cmp.
//
//   cache1  www.example.com       a.html, img/logo.gif, img/icons/up.png,
//                                 big.bin (120001 bytes: three copy chunks)
//   cache2  news.example.org      index.html
//   cache3  media.example.net/video   clip.txt   (a site name holding "/")
//   cache4  media.example.net     root.txt
//   cache5  not a site file (wrong magic): listed under its own name
//
// With "warc" after OUTDIR, it writes the sites of the archive export test
// instead:
//   cache1  damaged.example   a.html, an over-long URL, b.html, a record
//                             whose body length is negative, img/c.gif, /
//   cache2  twice.example     dup.html stored twice (different bodies),
//                             a redirect, a URL with bytes a URI cannot hold
#include <filesystem>
#include <iostream>
#include <string>

#include "site_writer.h"

namespace fs = std::filesystem;
using qvork_test::OkRecord;
using qvork_test::SiteRecord;
using qvork_test::WriteBytes;
using qvork_test::WriteSiteFile;

namespace {

std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes += static_cast<char>(i);
    }
    return bytes;
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>('a' + (i * 7) % 26);
    }
    return bytes;
}

SiteRecord Dated(SiteRecord record, const std::string &status = "200 OK") {
    record.header = "HTTP/1.1 " + status + "\r\nDate: Tue, 14 May 2002 09:12:44 GMT" +
                    record.header.substr(record.header.find("\r\n"));
    return record;
}

void WriteWarcSites(const fs::path &cache) {
    SiteRecord longUrl = OkRecord("lost.html", "lost");
    longUrl.urlLength = 2000;
    SiteRecord negative = OkRecord("gone.html", "gone");
    negative.dataLength = 3;
    WriteSiteFile(cache / "cache1", "damaged.example",
                  {Dated(OkRecord("a.html", "<p>a</p>\n")), longUrl, OkRecord("/b.html", "<p>b</p>\n"),
                   negative, OkRecord("img/c.gif", AllBytes(), "image/gif"),
                   OkRecord("/", "<p>home</p>\n")});
    SiteRecord moved = Dated(OkRecord("old", ""), "301 Moved Permanently");
    moved.header += "\r\nLocation: http://twice.example/dup.html";
    WriteSiteFile(cache / "cache2", "twice.example",
                  {OkRecord("dup.html", "first\n"), moved, OkRecord("dup.html", "second copy\n"),
                   OkRecord("odd name{x}.txt", "odd\n", "text/plain")});
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2 && !(argc == 3 && std::string(argv[2]) == "warc")) {
        std::cerr << "usage: make_host_cache OUTDIR [warc]\n";
        return 2;
    }
    const fs::path out = argv[1];
    const fs::path cache = out / "icache";
    const fs::path expected = out / "expected";
    try {
        fs::create_directories(cache);
        if (argc == 3) {
            WriteWarcSites(cache);
            return 0;
        }
        fs::create_directories(expected);
        const std::string page = "<html><body>A</body></html>\n";
        const std::string logo = AllBytes();
        const std::string icon = "PNG-ish";
        const std::string big = Pattern(120001);
        WriteSiteFile(cache / "cache1", "www.example.com",
                      {OkRecord("a.html", page), OkRecord("img/logo.gif", logo, "image/gif"),
                       OkRecord("img/icons/up.png", icon, "image/png"),
                       OkRecord("big.bin", big, "application/octet-stream")});
        WriteSiteFile(cache / "cache2", "news.example.org",
                      {OkRecord("index.html", "<p>news</p>\n")});
        WriteSiteFile(cache / "cache3", "media.example.net/video",
                      {OkRecord("clip.txt", "clip\n", "text/plain")});
        WriteSiteFile(cache / "cache4", "media.example.net",
                      {OkRecord("root.txt", "root\n", "text/plain")});
        WriteBytes(cache / "cache5", "this is not a site file\n");
        // Beside the cache, not in it: names in UTF-8 and a byte that is not.
        fs::create_directories(out / "extra");
        WriteSiteFile(out / "extra" / "utf8-site", "caf\xC3\xA9.example",
                      {OkRecord("na\xC3\xAFve-\xE2\x80\x93.html", page),
                       OkRecord("bad\xFF.txt", "x\n", "text/plain")});
        WriteBytes(expected / "a.html", page);
        WriteBytes(expected / "logo.gif", logo);
        WriteBytes(expected / "up.png", icon);
        WriteBytes(expected / "big.bin", big);
    } catch (const std::exception &error) {
        std::cerr << "make_host_cache: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

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
// With "web" after OUTDIR it writes instead one small web site, cache1
// "www.site.test", for the copy tests: pages linking each other in every
// way a page can (root-absolute, relative, absolute, scheme-relative, a
// query URL, a redirect, CSS url() and @import), bodies stored gzip, br and
// chunked, Last-Modified dates; OUTDIR/expected/ holds the decoded bodies.
// With "warc" after OUTDIR, it writes the sites of the archive export test
// instead:
//   cache1  damaged.example   a.html, an over-long URL, b.html, a record
//                             whose body length is negative, img/c.gif, /
//   cache2  twice.example     dup.html stored twice (different bodies),
//                             a redirect, a URL with bytes a URI cannot hold
//   cache3  broken.example    the over-long URL of cache1 (the same warning),
//                             x.html, y.html whose link to the next record
//                             is 0, z.html
// With "rough" after OUTDIR, it writes cache1 "rough.test", a damaged site
// for get: big.bin (300000 bytes) first, a gzip index.html, a.txt (gzip)
// beside a page named a.txt.qvork-decoded, a record whose body length is
// negative, a corrupt gzip body under a name holding ESC, and small.txt last;
// and for the offline copy cache2 "links.test" and cache3 "other.test",
// linking each other, with links to folder URLs, percent escapes, a
// Latin-1 URL, a <base href>, a CSS escape, and d/sec redirected to the
// page d/sec/, whose link goes up from the folder, and grow.html (about 970
// bytes, 1400 once its links are made absolute), links as old pages wrote
// them (blanks around, "\", a reference in a Latin-1 query), a folder URL
// with nothing below it, a redirect to itself and one whose name is cut to
// fit the copy's folder; cache4 is a site named
// "cache2".
// With "many" after OUTDIR, it writes one site long enough for ls -l to
// share its header views with a second process: cache1 "many.example",
// 1300 files in 13 folders, every 7th a 404 of text/plain, the rest 200 of
// text/html with a Last-Modified of their own.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "compressed.h"
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

std::string Chunked(const std::string &text) {
    std::string out;
    for (size_t at = 0; at < text.size(); at += 7) {
        const std::string piece = text.substr(at, 7);
        char size[16];
        std::snprintf(size, sizeof(size), "%zx;ext=1\r\n", piece.size());
        out += size + piece + "\r\n";
    }
    return out + "0\r\nX-Trailer: 1\r\n\r\n";
}

SiteRecord Stored(const std::string &url, const std::string &status, const std::string &fields,
                  const std::string &body) {
    SiteRecord record;
    record.url = url;
    record.header = "HTTP/1.1 " + status + "\r\nDate: Tue, 02 Apr 2002 08:00:00 GMT\r\n" + fields;
    record.body = body;
    record.header.resize(record.header.size() - 2); // the writer ends the header
    return record;
}

void WriteWebSite(const fs::path &cache, const fs::path &expected) {
    const std::string modified = "Last-Modified: Mon, 01 Apr 2002 10:00:00 GMT\r\n";
    const std::string index =
        "<!DOCTYPE html><html><head><link rel=stylesheet href=\"/css/site.css\">\n"
        "<style>h1 { background: url(\"img/bg.png\") }</style></head>\n"
        "<body style=\"background: url('/img/logo.png')\">\n"
        "<img src=img/logo.png srcset=\"img/logo.png 1x, /img/bg.png 2x\">\n"
        "<a href=\"http://www.site.test/about#team\">About</a>\n"
        "<a href='https://WWW.SITE.TEST/list?page=2'>List</a>\n"
        "<a href=\"//www.site.test/old\">Old</a>\n"
        "<a href=\"/missing.html\">Gone</a> <a href=\"http://other.test/x\">Other</a>\n"
        "<a href=\"#top\">Top</a> <a href=\"/IMG/Logo.PNG\">Logo</a></body></html>\n";
    const std::string about = "<html><body><a href=\"index.html\">home</a> about us</body></html>\n";
    const std::string list =
        "<html><body><a href=\"/index.html#x\">home</a> <a href=\"?page=3\">more</a></body></html>\n";
    const std::string notes = "notes stored with brotli\n";
    WriteSiteFile(
        cache / "cache1", "www.site.test",
        {Stored("index.html", "200 OK", modified + "Content-Type: text/html\r\n", index),
         Stored("css/site.css", "200 OK", modified + "Content-Type: text/css\r\n",
                "@import \"/css/more.css\";\nbody { background: url(../img/bg.png) }\n"),
         Stored("css/more.css", "200 OK", "Content-Type: text/css\r\n", "p { color: red }\n"),
         Stored("img/logo.png", "200 OK", modified + "Content-Type: image/png\r\n", "PNG1"),
         Stored("img/bg.png", "200 OK", "Content-Type: image/png\r\n", "PNG2"),
         Stored("about", "200 OK",
                modified + "Content-Type: text/html\r\nContent-Encoding: gzip\r\n", qvork_test::Gzipped(about)),
         Stored("list?page=2", "200 OK",
                "Content-Type: text/html; charset=utf-8\r\nTransfer-Encoding: chunked\r\n",
                Chunked(list)),
         Stored("old", "301 Moved Permanently", "Location: http://www.site.test/about\r\n", ""),
         Stored("notes.txt", "200 OK", "Content-Type: text/plain\r\nContent-Encoding: br\r\n",
                qvork_test::Brotlied(notes)),
         Stored("bad.txt", "200 OK", "Content-Type: text/plain\r\nContent-Encoding: gzip\r\n",
                "not gzip at all")});
    WriteBytes(expected / "index.html", index);
    WriteBytes(expected / "about", about);
    WriteBytes(expected / "list", list);
    WriteBytes(expected / "notes.txt", notes);
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
    SiteRecord unlinked = OkRecord("y.html", "<p>y</p>\n");
    unlinked.recordLength = 0;
    WriteSiteFile(cache / "cache3", "broken.example",
                  {longUrl, OkRecord("x.html", "<p>x</p>\n"), unlinked, OkRecord("z.html", "<p>z</p>\n")});
}

void WriteRoughSite(const fs::path &cache) {
    const std::string gzip = "Content-Type: text/plain\r\nContent-Encoding: gzip\r\n";
    SiteRecord negative = OkRecord("gone.html", "gone");
    negative.dataLength = 3;
    WriteSiteFile(cache / "cache1", "rough.test",
                  {Stored("big.bin", "200 OK", "Content-Type: application/octet-stream\r\n", Pattern(300000)),
                   Stored("index.html", "200 OK",
                          "Last-Modified: Mon, 01 Apr 2002 10:00:00 GMT\r\nContent-Type: text/html\r\n"
                          "Content-Encoding: gzip\r\n",
                          qvork_test::Gzipped("<p>home</p>\n")),
                   Stored("a.txt", "200 OK", gzip, qvork_test::Gzipped("decoded a\n")),
                   Stored("a.txt.qvork-decoded", "200 OK", "Content-Type: text/plain\r\n", "kept\n"),
                   negative, Stored("esc\x1b[2J.txt", "200 OK", gzip, "not gzip"),
                   Stored("small.txt", "200 OK", "Content-Type: text/plain\r\n", "small\n")});
    const std::string html = "Content-Type: text/html\r\n";
    WriteSiteFile(
        cache / "cache2", "links.test",
        {Stored("/", "200 OK", "Content-Type: text/html; charset=iso-8859-1\r\n",
                "<a href=\"/\">home</a> <a href=\"docs/\">docs</a> <a href=\"my page.html\">sp</a> "
                "<a href=\"caf\xe9.html\">latin</a> <a href=\"http://other.test/o.html\">other</a> "
                "<a href=\"about\">about</a>\n"
                "<a href=\" about\n\">blank</a> <a href=\"d\\z.html\">back</a> "
                "<a href=\"caf\xe9.html?a=1&amp;b=2\">query</a> <a href=\"solo/\">solo</a>\n"
                "<a href=\"faq\">faq</a> <a href=\"help\">help</a>\n"
                "<a href=\"/" + std::string(300, 'L') + ".html\">long</a>\n"),
         Stored(std::string(300, 'L') + ".html", "200 OK", html, "<p>long</p>\n"),
         Stored("faq", "302 Found", "Location: /faq.html\r\n", ""),
         Stored("help", "301 Moved Permanently", "Location: faq.html#q\r\n", ""),
         Stored("faq.html", "200 OK", html, "<p>faq</p>\n"),
         Stored("caf\xe9.html?a=1&b=2", "200 OK", html, "<p>query</p>\n"),
         Stored("solo/", "200 OK", html, "<p>nothing below</p>\n"),
         Stored("self", "301 Moved Permanently", "Location: https://links.test/self\r\n", ""),
         Stored(std::string(240, 'r'), "301 Moved Permanently", "Location: /about\r\n", ""),
         Stored("about", "200 OK", html, "<p>about</p>\n"),
         // Its links to pages not stored grow it past 1024 bytes in an offline copy.
         Stored("grow.html", "200 OK", html, [] {
             std::string page = "<!--" + std::string(600, '-') + "-->\n";
             for (int i = 0; i < 20; ++i) page += "<a href=\"m\">m</a>\n";
             return page;
         }()),
         Stored("d/z.html", "200 OK", html, "<p>z</p>\n"),
         Stored("d/sec", "301 Moved Permanently", "Location: http://links.test/d/sec/\r\n", ""),
         Stored("d/sec/", "200 OK", html, "<a href=\"../z.html\">z</a>\n"),
         Stored("cdn.html", "200 OK", html, "<base href=\"http://cdn.test/img/\"><img src=\"logo.gif\">\n"),
         Stored("docs/", "200 OK", html,
                "<base href=\"http://links.test/docs/\"><a href=\"x.html\">x</a> <a href=\"#top\">top</a>\n"),
         Stored("docs/x.html", "200 OK", html, "<a href=\"../\">up</a>\n"),
         Stored("based.html", "200 OK", html, "<base href=\"/docs/x.html\"><a href=\"#s\">s</a>\n"),
         Stored("docs/untyped.htm", "200 OK", "", "<a href=\"/faq.html\">faq</a>\n"),
         Stored("my%20page.html", "200 OK", html, "<p>space</p>\n"),
         Stored("caf\xe9.html", "200 OK", html, "<p>latin</p>\n"),
         Stored("s.css", "200 OK", "Content-Type: text/css\r\n", "a { background: url(/img/p\\(1\\).png) }\n"),
         Stored("img/p(1).png", "200 OK", "Content-Type: image/png\r\n", "PNG")});
    WriteSiteFile(cache / "cache3", "other.test",
                  {Stored("o.html", "200 OK", html, "<a href=\"http://links.test/\">back</a>\n")});
    WriteSiteFile(cache / "cache4", "cache2", {Stored("named.txt", "200 OK", "", "a site named cache2\n")});
}

void WriteManyFiles(const fs::path &cache) {
    std::vector<SiteRecord> records;
    for (int n = 0; n < 1300; ++n) {
        char url[32];
        std::snprintf(url, sizeof url, "d%02d/f%04d.html", n / 100, n);
        char modified[64];
        std::snprintf(modified, sizeof modified, "Last-Modified: Mon, %02d Apr 2002 10:%02d:%02d GMT\r\n",
                      1 + n % 28, n / 60 % 60, n % 60);
        records.push_back(n % 7 == 0 ? Stored(url, "404 Not Found", "Content-Type: text/plain\r\n", "no\n")
                                     : Stored(url, "200 OK", std::string(modified) +
                                                                 "Content-Type: text/html\r\n",
                                              "<p>" + std::to_string(n) + "</p>\n"));
    }
    WriteSiteFile(cache / "cache1", "many.example", records);
}

} // namespace

int main(int argc, char **argv) {
    const std::string mode = argc == 3 ? argv[2] : "";
    if (argc != 2 && mode != "warc" && mode != "web" && mode != "many" && mode != "rough") {
        std::cerr << "usage: make_host_cache OUTDIR [warc|web|many|rough]\n";
        return 2;
    }
    const fs::path out = argv[1];
    const fs::path cache = out / "icache";
    const fs::path expected = out / "expected";
    try {
        fs::create_directories(cache);
        if (mode == "warc") {
            WriteWarcSites(cache);
            return 0;
        }
        if (mode == "rough") {
            WriteRoughSite(cache);
            return 0;
        }
        if (mode == "many") {
            WriteManyFiles(cache);
            return 0;
        }
        fs::create_directories(expected);
        if (mode == "web") {
            WriteWebSite(cache, expected);
            return 0;
        }
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

// Writes the caches of the console host's benchmarks (bench/host_bench.sh):
//   OUT/many/icache/cache1   65533 records, folders of 100, small bodies
//   OUT/gzip/icache/cache1   gzip bodies of TOTAL_MB megabytes in all, 1 MB
//                            each, and OUT/gzip/plain/N.gz: the same bodies
//                            as .gz files for the zcat floor
//   OUT/pages/icache/cache1  1000 HTML pages of about 20 KB, each linking
//                            50 others (root-absolute, relative, absolute),
//                            a stylesheet and an image
//   make_host_bench_sites OUT [TOTAL_MB]
#include <filesystem>
#include <iostream>
#include <random>
#include <string>

#include "hosts/tests/compressed.h"
#include "site_writer.h"

namespace fs = std::filesystem;
using qvork_test::SiteRecord;
using qvork_test::WriteBytes;
using qvork_test::WriteSiteFile;

namespace {

SiteRecord Record(const std::string &url, const std::string &fields, const std::string &body) {
    SiteRecord record;
    record.url = url;
    record.header = "HTTP/1.1 200 OK\r\nDate: Tue, 02 Apr 2002 08:00:00 GMT\r\n"
                    "Last-Modified: Mon, 01 Apr 2002 10:00:00 GMT\r\n" + fields;
    record.body = body;
    return record;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::cerr << "usage: make_host_bench_sites OUT [TOTAL_MB]\n";
        return 2;
    }
    const fs::path out = argv[1];
    const int totalMb = argc > 2 ? std::stoi(argv[2]) : 200;
    std::mt19937 random(7);
    try {
        std::vector<SiteRecord> records;
        for (int i = 0; i < 65533; ++i) {
            records.push_back(Record("d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".html",
                                     "Content-Type: text/html", "<p>" + std::to_string(i) + "</p>"));
        }
        fs::create_directories(out / "many/icache");
        WriteSiteFile(out / "many/icache/cache1", "many.test", records);

        // Bodies of four bits of entropy a byte: gzip halves them.
        records.clear();
        fs::create_directories(out / "gzip/icache");
        fs::create_directories(out / "gzip/plain");
        size_t stored = 0;
        for (int i = 0; stored < static_cast<size_t>(totalMb) << 20; ++i) {
            std::string text(2u << 20, '\0');
            for (char &c : text) {
                c = static_cast<char>('a' + random() % 16);
            }
            const std::string body = qvork_test::Gzipped(text, 1);
            stored += body.size();
            WriteBytes(out / "gzip/plain" / (std::to_string(i) + ".gz"), body);
            records.push_back(Record("b/" + std::to_string(i) + ".txt",
                                     "Content-Type: text/plain\r\nContent-Encoding: gzip", body));
        }
        WriteSiteFile(out / "gzip/icache/cache1", "gzip.test", records);

        records.clear();
        const int pages = 1000;
        for (int i = 0; i < pages; ++i) {
            std::string page = "<!DOCTYPE html><html><head><title>Page " + std::to_string(i) +
                               "</title><link rel=stylesheet href=\"/s/site.css\"></head><body>\n";
            for (int link = 0; link < 50; ++link) {
                const int to = static_cast<int>(random() % pages);
                const std::string target = "p" + std::to_string(to / 100) + "/" + std::to_string(to) + ".html";
                const char *forms[] = {"/", "../", "http://pages.test/"};
                page += "<p>Paragraph " + std::to_string(link) + " with some words of text that a page holds, "
                        "<a href=\"" + forms[link % 3] + target + "\">link " + std::to_string(to) +
                        "</a> and <img src=\"/i/logo.png\" alt=\"logo\"> more words.</p>\n";
            }
            page += "</body></html>\n";
            records.push_back(Record("p" + std::to_string(i / 100) + "/" + std::to_string(i) + ".html",
                                     "Content-Type: text/html", page));
        }
        records.push_back(Record("s/site.css", "Content-Type: text/css",
                                 "body { background: url(/i/logo.png) }\n"));
        records.push_back(Record("i/logo.png", "Content-Type: image/png", "PNG"));
        fs::create_directories(out / "pages/icache");
        WriteSiteFile(out / "pages/icache/cache1", "pages.test", records);
    } catch (const std::exception &error) {
        std::cerr << "make_host_bench_sites: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

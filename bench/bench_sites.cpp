#include "bench_sites.h"

#include <cstdio>
#include <stdexcept>

#include "tests/support/crafted_names.h"
#include "platform/win32.h"
#include "site_writer.h"

namespace qvork_bench {

namespace {

// Bodies that do not compress or repeat: each byte from a small generator
// seeded by the file's number.
std::string BodyBytes(uint32_t seed, int size) {
    std::string body(static_cast<size_t>(size), '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (char &c : body) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return body;
}

std::string Numbered(const char *format, int number) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

// Every URL of a load site, in record order. Crafted names target the table
// a load of 65533 records makes (131072 slots): 1 in 256 of them is kept.
std::vector<std::string> LoadUrls(Shape shape, int records) {
    std::vector<std::string> urls;
    if (shape == Shape::CraftedOld || shape == Shape::CraftedFixed) {
        auto against = shape == Shape::CraftedOld ? qvork_test::CraftedAgainst::OldHash
                                                  : qvork_test::CraftedAgainst::FixedKey;
        for (std::string &name :
             qvork_test::CraftNames(against, static_cast<size_t>(records), 131072, 256))
            urls.push_back("/" + name);
        return urls;
    }
    for (int i = 0; i < records; i++)
        urls.push_back(shape == Shape::Deep ? Numbered("/d%03d/", i / 100) + Numbered("f%02d.html", i % 100)
                                            : Numbered("/f%05d.html", i));
    return urls;
}

std::string CopyFolder(int i, int filesPerFolder) { return Numbered("d%02d", i / filesPerFolder); }
std::string CopyFile(int i, int filesPerFolder) {
    return Numbered("f%02d.html", i % filesPerFolder);
}

// Nodes and owned name bytes of a load site's tree.
void CountTree(LoadSite &site, Shape shape, int records) {
    site.records = records;
    site.nodes = 1; // the synthetic site node, named by the site (not owned)
    site.nameBytes = 0;
    int folders = shape == Shape::Deep ? (records + 99) / 100 : 0;
    site.nodes += records + folders;
    site.nameBytes += folders * static_cast<long>(sizeof "d000");
    for (const std::string &url : LoadUrls(shape, records))
        site.nameBytes += static_cast<long>(url.size() - url.rfind('/')); // name + terminator
}

} // namespace

const char *ShapeName(Shape shape) {
    static const char *const names[] = {"deep", "wide", "crafted-old", "crafted-fixed"};
    return names[static_cast<int>(shape)];
}

LoadSite DescribeLoadSite(const fs::path &icache, const std::string &fileName, Shape shape,
                          int records, int) {
    LoadSite site;
    site.file = icache / fileName;
    site.name = std::string(ShapeName(shape)) + ".example.com";
    CountTree(site, shape, records);
    return site;
}

LoadSite WriteLoadSite(const fs::path &icache, const std::string &fileName, Shape shape,
                       int records, int bodyBytes) {
    LoadSite site = DescribeLoadSite(icache, fileName, shape, records, bodyBytes);
    std::vector<qvork_test::SiteRecord> list;
    list.reserve(static_cast<size_t>(records));
    std::vector<std::string> urls = LoadUrls(shape, records);
    for (int i = 0; i < records; i++)
        list.push_back(qvork_test::OkRecord(urls[static_cast<size_t>(i)], BodyBytes(i, bodyBytes)));
    qvork_test::SiteFileImage image = qvork_test::WriteSiteFile(site.file, site.name, list);
    for (const qvork_test::RecordPlacement &placement : image.records)
        site.starts.push_back(placement.start);
    site.fileBytes = static_cast<int64_t>(image.bytes.size());
    return site;
}

CopySite DescribeCopySite(const fs::path &icache, const fs::path &plainRoot, int files, int,
                          int bodyBytes) {
    CopySite site;
    site.file = icache / "cache1";
    site.name = "copy.example.com";
    site.plainTree = plainRoot / site.name;
    site.files = files;
    site.bodyBytes = static_cast<int64_t>(files) * bodyBytes;
    return site;
}

CopySite WriteCopySite(const fs::path &icache, const fs::path &plainRoot, int files,
                       int filesPerFolder, int bodyBytes) {
    CopySite site = DescribeCopySite(icache, plainRoot, files, filesPerFolder, bodyBytes);
    std::vector<qvork_test::SiteRecord> list;
    list.reserve(static_cast<size_t>(files));
    for (int i = 0; i < files; i++) {
        std::string folder = CopyFolder(i, filesPerFolder);
        std::string file = CopyFile(i, filesPerFolder);
        std::string body = BodyBytes(static_cast<uint32_t>(i) + 1000000u, bodyBytes);
        fs::create_directories(site.plainTree / folder);
        qvork_test::WriteBytes(site.plainTree / folder / file, body);
        list.push_back(qvork_test::OkRecord("/" + folder + "/" + file, std::move(body)));
    }
    qvork_test::WriteSiteFile(site.file, site.name, list);
    return site;
}

void WriteManySites(const fs::path &icache, int count) {
    for (int i = 1; i <= count; i++) {
        std::string name = Numbered("site%05d.example.com", i);
        qvork_test::WriteSiteFile(icache / Numbered("cache%d", i), name,
                                  {qvork_test::OkRecord("/index.html", "<html></html>")});
    }
}

void SetCachePath(const fs::path &root) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\web3000\\netsonic", 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                  &disposition);
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the NetSonic registry key: " +
                                 std::to_string(result));
    std::string value = root.string();
    result = RegSetValueExA(key, "CachePath", 0, REG_SZ,
                            reinterpret_cast<const BYTE *>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("cannot set CachePath: " + std::to_string(result));
}

TreeSize MeasureTree(const fs::path &root) {
    TreeSize size;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file()) {
            size.files++;
            size.bytes += static_cast<int64_t>(it->file_size());
        }
    }
    return size;
}

} // namespace qvork_bench

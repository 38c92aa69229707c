// Writes the seed corpora of the fuzz targets:
//   OUT/site/      site files for fuzz_root_listing, fuzz_site_walk, fuzz_extract:
//                  ordinary sites and every kind of damage the tests write
//   OUT/registry/  REGEDIT4 texts for fuzz_registry
// Usage: make_seeds OUT
#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#include "site_writer.h"

namespace fs = std::filesystem;
using namespace qvork_test;

namespace {

fs::path Out;
int Written = 0;

void Seed(const std::string &folder, const std::string &name, const std::string &bytes)
{
    fs::create_directories(Out / folder);
    WriteBytes(Out / folder / name, bytes);
    Written++;
}

void Site(const std::string &name, const std::string &siteName, const std::vector<SiteRecord> &records,
          const SiteFileOptions &options = {})
{
    Seed("site", name, BuildSiteFile(siteName, records, options).bytes);
}

std::vector<SiteRecord> Basic()
{
    return {OkRecord("/", "<html>home</html>"), OkRecord("index.html", "<p>index</p>"),
            OkRecord("img/logo.gif", std::string(64, '\x47'), "image/gif"),
            OkRecord("a/b/c.html", "deep")};
}

SiteRecord WithUrlLength(int32_t urlLength)
{
    SiteRecord record = OkRecord("x/y.html", "body");
    record.urlLength = urlLength;
    return record;
}

SiteRecord WithRecordLength(int32_t recordLength)
{
    SiteRecord record = OkRecord("r.html", "body");
    record.recordLength = recordLength;
    return record;
}

SiteRecord WithDataLength(int32_t dataLength)
{
    SiteRecord record = OkRecord("d.html", "body");
    record.dataLength = dataLength;
    return record;
}

void OrdinarySites()
{
    Site("basic", "www.example.com", Basic());
    Site("empty-site", "empty.example", {});
    Site("nested-then-parent", "n.example",
         {OkRecord("a/b", "b"), OkRecord("a", "a index"), OkRecord("a/", "a slash")});
    Site("file-then-child", "f.example", {OkRecord("a", "file a"), OkRecord("a/b", "child b")});
    Site("same-url-twice", "s.example", {OkRecord("x.html", "first"), OkRecord("x.html", "second")});
    Site("index-cases", "i.example",
         {OkRecord("", "empty url"), OkRecord("/", "slash"), OkRecord("///", "slashes"),
          OkRecord("dir/", "dir slash"), OkRecord("//x//y/", "doubled")});
    Site("case-differs", "c.example", {OkRecord("A", "upper"), OkRecord("a", "lower")});
    Site("siblings", "sib.example",
         {OkRecord("a/b", "1"), OkRecord("a/c", "2"), OkRecord("a/d/e", "3"), OkRecord("f", "4")});
    SiteRecord noSeparator = OkRecord("raw.bin", "no separator here");
    noSeparator.omitSeparator = true;
    Site("header-without-separator", "h.example", {noSeparator, OkRecord("ok.html", "ok")});
    Site("empty-body", "e.example", {OkRecord("empty.txt", ""), OkRecord("redirect", "")});
    SiteRecord bigHeader = OkRecord("big-header", "x");
    bigHeader.header = "HTTP/1.0 200 OK\r\nX-Long: " + std::string(900, 'h');
    Site("header-fills-window", "w.example", {bigHeader});
    Site("chunk-boundary", "k.example",
         {OkRecord("50000", std::string(50000, 'a')), OkRecord("50001", std::string(50001 - 50000, 'b'))});
    Site("body-over-one-chunk", "k2.example", {OkRecord("big", std::string(50001, 'c'))});
    Site("long-site-name", std::string(259, 'n'), Basic());
    Site("site-name-port", "host.example:8080", Basic());
    SiteFileOptions natural;
    natural.padTail = false;
    Site("records-at-end", "end.example",
         {OkRecord("one", "1"), OkRecord("two", "2"), OkRecord("three", "3")}, natural);
    SiteRecord trailer = OkRecord("t.html", "body");
    trailer.trailer = std::string(40, '\0');
    SiteFileOptions blockTrailer;
    blockTrailer.siteBlockTrailer = std::string(24, 'z');
    Site("trailers", "t.example", {trailer, OkRecord("u.html", "u")}, blockTrailer);
    std::vector<SiteRecord> many;
    for (int i = 0; i < 40; i++)
        many.push_back(OkRecord("d" + std::to_string(i % 5) + "/f" + std::to_string(i), "b"));
    Site("many-records", "m.example", many);
    std::string deep;
    for (int i = 0; i < 120; i++)
        deep += "q/";
    Site("deep-path", "deep.example", {OkRecord(deep + "leaf", "leaf")});
}

void DamagedSites()
{
    SiteFileOptions o;
    o.magic = 0x12345678;
    Site("wrong-magic", "bad.example", Basic(), o);
    Seed("site", "empty-file", "");
    Seed("site", "magic-only", std::string("\x67\x6B\x04\x00", 4));
    std::string basic = BuildSiteFile("www.example.com", Basic()).bytes;
    for (size_t cut : {1u, 4u, 8u, 9u, 10u, 16u, 19u, 20u, 32u, 35u, 36u, 40u, 50u, 51u, 60u, 70u,
                       80u, 100u, 140u, 200u, 300u})
        Seed("site", "truncated-" + std::to_string(cut), basic.substr(0, cut));
    SiteFileOptions natural;
    natural.padTail = false;
    std::string tight = BuildSiteFile("www.example.com", Basic(), natural).bytes;
    for (size_t cut = 60; cut < tight.size(); cut += 23)
        Seed("site", "tight-truncated-" + std::to_string(cut), tight.substr(0, cut));

    for (int count : {0, 1, 2, 3, 65535}) {
        SiteFileOptions c;
        c.recordCount = (uint16_t)count;
        Site("record-count-" + std::to_string(count), "rc.example", Basic(), c);
    }
    for (int32_t length : {-1, -20, 0, 1, 300, 0x7FFFFFFF, (int32_t)0x80000000}) {
        SiteFileOptions n;
        n.nameLength = length;
        Site("name-length-" + std::to_string(length), "nl.example", Basic(), n);
        SiteFileOptions b;
        b.siteBlockLength = length;
        Site("site-block-length-" + std::to_string(length), "sb.example", Basic(), b);
    }
    for (int32_t length : {-1, -1000, 985, 986, 1000, 1024, 1025, 4096, 0x7FFFFFFF,
                           (int32_t)0x80000000}) {
        Site("url-length-" + std::to_string(length), "ul.example",
             {OkRecord("a.html", "a"), WithUrlLength(length), OkRecord("b.html", "b")});
    }
    // URLs of exactly 985 and 986 bytes, whose fields reach the window's end.
    for (size_t size : {985u, 986u, 1024u, 1025u})
        Site("url-of-" + std::to_string(size), "u.example",
             {OkRecord(std::string(size - 4, 'u') + "/end", "u"), OkRecord("next", "n")});
    for (int32_t length : {-1, -16, 0, 1, 19, 20, 0x7FFFFFFF, (int32_t)0x80000000})
        Site("record-length-" + std::to_string(length), "rl.example",
             {OkRecord("a.html", "a"), WithRecordLength(length), OkRecord("b.html", "b")});
    for (int32_t length : {-1, 0, 9, 10, 11, 60000, 0x7FFFFFFF, (int32_t)0x80000000})
        Site("data-length-" + std::to_string(length), "dl.example", {WithDataLength(length)});
    // Records whose windows reach past the end of the file.
    std::string nearEnd = BuildSiteFile("end.example", {OkRecord("a", "1"), OkRecord("b", "2")},
                                        natural).bytes;
    Seed("site", "near-end", nearEnd);
    Seed("site", "near-end-cut", nearEnd.substr(0, nearEnd.size() - 3));
    // Offsets past the end: a body that starts beyond the file.
    SiteRecord past = OkRecord("past", "p");
    past.dataLength = 1 << 30;
    Site("body-past-end", "p.example", {past}, natural);
}

void AttackSites()
{
    std::vector<std::string> names = {"..", "../../escape", "a/../../../escape", "\\", "\\..\\x",
                                      "a\\..\\..\\x", "/", "CON", "con.txt", "NUL", "LPT1",
                                      "COM9.log", "CONIN$", "a.", "a ", ". .", "...", ".",
                                      "\x01\x1f", "?*:|+<>\"", std::string(300, 'L'),
                                      "x/" + std::string(1500, 'y')};
    std::vector<SiteRecord> records;
    for (const std::string &name : names)
        records.push_back(OkRecord(name, "attack"));
    records.push_back(OkRecord("../sibling/of/dest", "attack"));
    records.push_back(OkRecord("..\\..\\windows\\x", "attack"));
    Site("attack-names", "attack.example", records);
    for (const std::string &siteName : {std::string(".."), std::string("../x"), std::string("\\evil"),
                                        std::string("CON"), std::string("a/b"), std::string("")})
        Site("attack-site-name-" + std::to_string(Written), siteName, {OkRecord("f", "x")});
    // A site named like an ordinary one beside it.
    Site("same-name-as-neighbour", "www.one.example", Basic());
}

void RegistrySeeds()
{
    Seed("registry", "sample",
         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\web3000\\netsonic]\r\n"
         "\"CachePath\"=\"C:\\\\cache\"\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\qvork\\Plugins\\Q\\VORK]\r\n"
         "\"Show_Diskz\"=hex:01\r\n\"X\"=dword:00000007\r\n"
         "\"Y\"=hex(7):61,00,\\\r\n  62,00,00\r\n\"Quote \\\"q\\\"\"=\"a\\\"b\"\r\n@=\"default\"\r\n");
    Seed("registry", "lf-only",
         "REGEDIT4\n[HKCU\\Software\\a]\n\"n\"=\"v\"\n[HKLM\\x\\y]\n@=dword:ffffffff\n");
    Seed("registry", "empty", "");
    Seed("registry", "damaged",
         "REGEDIT4\r\n[HKEY_CURRENT_USER\\a\r\n\"lost\"=\"x\"\r\n[HKEY_NOWHERE\\b]\r\n\"n\"=\"v\"\r\n"
         "[HKEY_CURRENT_USER\\good]\r\n\"ok\"=\"yes\"\r\n\"bad\"=dword:xyz\r\n\"h\"=hex:zz\r\n"
         "\"open=\"x\r\n=\"\"\r\n\"t\"=hex(2):41,42,\\\r\n");
    Seed("registry", "duplicates",
         "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=\"1\"\r\n[hkey_current_user\\a]\r\n\"V\"=\"2\"\r\n"
         "[HKCU\\\\a\\\\]\r\n\"v\"=hex:\r\n");
    Seed("registry", "long-names",
         "REGEDIT4\r\n[HKEY_CURRENT_USER\\" + std::string(255, 'k') + "\\" + std::string(256, 'l') +
             "]\r\n\"" + std::string(400, 'v') + "\"=\"" + std::string(2000, 'd') + "\"\r\n");
    Seed("registry", "hex-types",
         "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\t]\r\n\"a\"=hex(0):\r\n\"b\"=hex(ffffffff):00\r\n"
         "\"c\"=hex(4):01,02,03,04\r\n\"d\"=dword:0\r\n\"e\"=\"\\\\\\\"\"\r\n\"\"=\"empty name\"\r\n");
    static const char nulAndCr[] = "REGEDIT4\r\n[HKCU\\a\0b]\r\n\"x\r\"=\"y\0z\"\r\r\n";
    Seed("registry", "nul-and-cr", std::string(nulAndCr, sizeof nulAndCr - 1));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds OUT\n");
        return 2;
    }
    Out = argv[1];
    OrdinarySites();
    DamagedSites();
    AttackSites();
    RegistrySeeds();
    printf("make_seeds: %d seeds in %s\n", Written, Out.string().c_str());
    return 0;
}

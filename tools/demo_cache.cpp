#include "demo_cache.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "site_writer.h"

namespace qvork_demo {

namespace fs = std::filesystem;

namespace {

const char kMarkName[] = ".qvork-demo";

std::string ReadWhole(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The text without the lines that start with '#' and without whitespace.
std::string Significant(const std::string &text) {
    std::istringstream lines(text);
    std::string line, kept;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '#') continue;
        for (char c : line)
            if (!std::isspace(static_cast<unsigned char>(c))) kept += c;
    }
    return kept;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int Base64Digit(char c) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t at = alphabet.find(c);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

struct Line {
    int number;
    std::vector<std::string> words;
};

// The significant lines of a text file, split at whitespace.
std::vector<Line> ReadWords(const fs::path &path) {
    std::istringstream text(ReadWhole(path));
    std::vector<Line> lines;
    std::string line;
    for (int number = 1; std::getline(text, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        Line parsed{number, {}};
        for (std::string word; words >> word;) parsed.words.push_back(word);
        if (!parsed.words.empty() && parsed.words[0][0] != '#') lines.push_back(parsed);
    }
    return lines;
}

[[noreturn]] void Fault(const fs::path &path, int line, const std::string &what) {
    throw std::runtime_error(path.string() + ":" + std::to_string(line) + ": " + what);
}

std::string ReadBody(const fs::path &path) {
    const std::string name = path.filename().string();
    auto endsWith = [&](const std::string &tail) {
        return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith(".hex")) return DecodeHex(ReadWhole(path));
    if (endsWith(".b64")) return DecodeBase64(ReadWhole(path));
    return ReadWhole(path);
}

// Header files are plain text: lines joined with CRLF, no blank line at the
// end (the writer adds it), "{length}" replaced by the body's size.
std::string ReadHeader(const fs::path &path, size_t bodySize) {
    std::istringstream text(ReadWhole(path));
    std::string line, header;
    while (std::getline(text, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!header.empty()) header += "\r\n";
        header += line;
    }
    while (header.size() >= 2 && header.compare(header.size() - 2, 2, "\r\n") == 0)
        header.resize(header.size() - 2);
    for (size_t at; (at = header.find("{length}")) != std::string::npos;)
        header.replace(at, 8, std::to_string(bodySize));
    return header;
}

DemoFile WriteSite(const fs::path &siteDir, const fs::path &target) {
    const fs::path listing = siteDir / "site.txt";
    std::string siteName;
    std::vector<qvork_test::SiteRecord> records;
    for (const Line &line : ReadWords(listing)) {
        if (line.words[0] == "name") {
            if (line.words.size() != 2) Fault(listing, line.number, "name takes one word");
            siteName = line.words[1];
            continue;
        }
        if (line.words.size() != 3) Fault(listing, line.number, "expected: URL HEADER BODY");
        qvork_test::SiteRecord record;
        record.url = line.words[0];
        record.body = line.words[2] == "-" ? std::string() : ReadBody(siteDir / line.words[2]);
        record.header = ReadHeader(siteDir / line.words[1], record.body.size());
        records.push_back(record);
    }
    if (siteName.empty()) Fault(listing, 1, "no site name (a line: name SITE)");
    const qvork_test::SiteFileImage image = qvork_test::WriteSiteFile(target, siteName, records);
    return {target.filename().string(), siteName, records.size(), image.bytes.size()};
}

// Makes <out>/icache/ empty, unless it holds something that is not ours
// (an empty folder is nobody's loss).
fs::path PrepareCacheFolder(const fs::path &outDir) {
    const fs::path folder = outDir / "icache";
    const fs::path mark = outDir / kMarkName;
    if (fs::exists(folder) && !fs::exists(mark) && !fs::is_empty(folder))
        throw std::runtime_error(folder.string() +
                                 " exists and was not made by make_demo: not touching it");
    fs::remove_all(folder);
    fs::create_directories(folder);
    qvork_test::WriteBytes(mark, "made by make_demo; its icache/ is rebuilt on every run\n");
    return folder;
}

} // namespace

std::string DecodeHex(const std::string &text) {
    const std::string digits = Significant(text);
    if (digits.size() % 2 != 0) throw std::runtime_error("odd number of hex digits");
    std::string bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = HexDigit(digits[i]), low = HexDigit(digits[i + 1]);
        if (high < 0 || low < 0) throw std::runtime_error("not a hex digit near " + digits.substr(i, 2));
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::string DecodeBase64(const std::string &text) {
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (char c : Significant(text)) {
        if (c == '=') break;
        const int digit = Base64Digit(c);
        if (digit < 0) throw std::runtime_error(std::string("not a base64 digit: ") + c);
        bits = (bits << 6) | static_cast<unsigned>(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return bytes;
}

std::vector<DemoFile> BuildDemoCache(const fs::path &demoDir, const fs::path &outDir) {
    const fs::path manifest = demoDir / "cache.txt";
    const std::vector<Line> lines = ReadWords(manifest);
    const fs::path folder = PrepareCacheFolder(outDir);
    std::vector<DemoFile> written;
    for (const Line &line : lines) {
        if (line.words.size() != 3) Fault(manifest, line.number, "expected: FILE site|raw SOURCE");
        const fs::path target = folder / line.words[0];
        if (line.words[1] == "site") {
            written.push_back(WriteSite(demoDir / "sites" / line.words[2], target));
        } else if (line.words[1] == "raw") {
            const std::string bytes = ReadWhole(demoDir / "files" / line.words[2]);
            qvork_test::WriteBytes(target, bytes);
            written.push_back({line.words[0], "", 0, bytes.size()});
        } else {
            Fault(manifest, line.number, "the kind is site or raw, not " + line.words[1]);
        }
    }
    return written;
}

} // namespace qvork_demo

// WARC/1.1 building blocks; see warc_format.h.
#include "hosts/qvork/warc_format.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "hosts/qvork/text_output.h"

namespace qvork_host {

namespace {

uint32_t Rotate(uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

std::string Base32(const unsigned char *bytes, size_t size) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string text;
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < size; ++i) {
        bits = (bits << 8) | bytes[i];
        count += 8;
        while (count >= 5) {
            text += kAlphabet[(bits >> (count - 5)) & 31];
            count -= 5;
        }
    }
    if (count > 0) {
        text += kAlphabet[(bits << (5 - count)) & 31];
    }
    while (text.size() % 8 != 0) {
        text += '=';
    }
    return text;
}

std::string Lower(std::string text) {
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Join(const std::vector<std::string> &parts, char separator) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        text += (i > 0 ? std::string(1, separator) : std::string()) + parts[i];
    }
    return text;
}

std::string UtcText(std::time_t when, const char *format) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

// Characters a URI holds as they are (RFC 3986 unreserved, reserved, '%').
bool UriSafe(unsigned char c) {
    return c > 0x20 && c < 0x7F && std::strchr("\"<>\\^`{|}", c) == nullptr;
}

} // namespace

Sha1::Sha1() : state_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u} {}

void Sha1::Block(const unsigned char *block) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
        const unsigned char *b = block + 4 * i;
        w[i] = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
               static_cast<uint32_t>(b[2]) << 8 | b[3];
    }
    for (int i = 16; i < 80; ++i) {
        w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d), k = 0x5A827999u;
        } else if (i < 40) {
            f = b ^ c ^ d, k = 0x6ED9EBA1u;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d, k = 0xCA62C1D6u;
        }
        uint32_t t = Rotate(a, 5) + f + e + k + w[i];
        e = d, d = c, c = Rotate(b, 30), b = a, a = t;
    }
    state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d, state_[4] += e;
}

void Sha1::Update(const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    length_ += size;
    if (buffered_ > 0) {
        size_t take = std::min(size, 64 - buffered_);
        std::memcpy(buffer_ + buffered_, p, take);
        buffered_ += take, p += take, size -= take;
        if (buffered_ < 64) {
            return;
        }
        Block(buffer_);
        buffered_ = 0;
    }
    for (; size >= 64; p += 64, size -= 64) {
        Block(p);
    }
    std::memcpy(buffer_, p, size);
    buffered_ = size;
}

std::string Sha1::Label() {
    uint64_t bits = length_ * 8;
    unsigned char pad[72] = {0x80};
    size_t padding = (buffered_ < 56 ? 56 : 120) - buffered_;
    for (int i = 0; i < 8; ++i) {
        pad[padding + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    }
    Update(pad, padding + 8);
    unsigned char digest[20];
    for (int i = 0; i < 20; ++i) {
        digest[i] = static_cast<unsigned char>(state_[i / 4] >> (24 - 8 * (i % 4)));
    }
    return "sha1:" + Base32(digest, sizeof digest);
}

std::string NewRecordId() {
    static std::random_device device;
    static std::mt19937_64 generator(
        (static_cast<uint64_t>(device()) << 32) ^ device() ^
        static_cast<uint64_t>(getpid()) << 16 ^ static_cast<uint64_t>(std::time(nullptr)));
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 8) {
        uint64_t value = generator();
        std::memcpy(bytes + i, &value, 8);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return std::string("<urn:uuid:") + text + ">";
}

std::string WarcDate(std::time_t when) { return IsoDate(when); }

std::string CdxTimestamp(std::time_t when) { return UtcText(when, "%Y%m%d%H%M%S"); }

std::optional<std::string> HeaderField(const std::string &header, const std::string &name) {
    // Lines end in "\r\n", or in a bare "\n" as some servers wrote them.
    size_t line = header.find('\n');
    while (line != std::string::npos) {
        size_t start = line + 1;
        size_t end = header.find('\n', start);
        std::string field =
            header.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!field.empty() && field.back() == '\r') {
            field.pop_back();
        }
        if (field.size() > name.size() && field[name.size()] == ':' &&
            strncasecmp(field.c_str(), name.c_str(), name.size()) == 0) {
            size_t from = field.find_first_not_of(" \t", name.size() + 1);
            size_t to = field.find_last_not_of(" \t");
            return from == std::string::npos ? std::string() : field.substr(from, to - from + 1);
        }
        line = end;
    }
    return std::nullopt;
}

std::string TargetUri(const std::string &site, const std::string &storedUrl) {
    std::string uri = "http://";
    const auto escape = [&uri](unsigned char c) {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", c);
        uri += escaped;
    };
    // The host: what a host name may hold; the rest (a "/", "?", "#" or "@"
    // in a damaged site name) escaped, never read as the URI's parts.
    for (unsigned char c : site) {
        if (std::isalnum(c) || std::strchr("-._~!$&'()*+,;=:", c) != nullptr) {
            uri += static_cast<char>(c);
        } else {
            escape(c);
        }
    }
    // The path as stored: a "#" is no fragment there (browsers never send
    // one), and a "%" not followed by two hex digits is a "%" itself.
    const std::string path = storedUrl.empty() || storedUrl[0] != '/' ? "/" + storedUrl : storedUrl;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        const bool escapes = c == '%' && i + 2 < path.size() &&
                             std::isxdigit(static_cast<unsigned char>(path[i + 1])) &&
                             std::isxdigit(static_cast<unsigned char>(path[i + 2]));
        if (escapes || (UriSafe(c) && c != '%' && c != '#' && c != '[' && c != ']')) {
            uri += static_cast<char>(c);
        } else {
            escape(c);
        }
    }
    return uri;
}

std::string SurtKey(const std::string &uri) {
    std::string rest = uri;
    size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        rest = rest.substr(scheme + 3);
    }
    size_t slash = rest.find_first_of("/?");
    std::string authority = Lower(rest.substr(0, slash));
    std::string path = slash == std::string::npos ? "/" : Lower(rest.substr(slash));
    std::string port;
    size_t colon = authority.rfind(':');
    if (colon != std::string::npos) {
        port = authority.substr(colon);
        authority.resize(colon);
        if (port == ":80") {
            port.clear();
        }
    }
    if (authority.compare(0, 4, "www.") == 0) {
        authority = authority.substr(4);
    }
    std::vector<std::string> labels = Split(authority, '.');
    std::reverse(labels.begin(), labels.end());
    // Query arguments in sorted order, as replay tools canonicalise them.
    size_t question = path.find('?');
    if (question != std::string::npos) {
        std::vector<std::string> arguments = Split(path.substr(question + 1), '&');
        std::sort(arguments.begin(), arguments.end());
        path = path.substr(0, question + 1) + Join(arguments, '&');
    }
    return Join(labels, ',') + port + ")" + path;
}

WarcWriter::~WarcWriter() {
    if (zOpen_) {
        deflateEnd(&z_);
    }
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool WarcWriter::Open(const std::string &path, bool gzip, std::string &error) {
    gzip_ = gzip;
    if (gzip_) {
        // windowBits 15 + 16: a gzip wrapper around each member.
        if (deflateInit2(&z_, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            error = "cannot start the compressor";
            return false;
        }
        zOpen_ = true;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool WarcWriter::Put(const void *data, size_t size, bool last) {
    if (failed_) {
        return false;
    }
    if (!gzip_) {
        failed_ = size > 0 && std::fwrite(data, 1, size, file_) != size;
        errno_ = failed_ ? errno : 0;
        offset_ += size;
        return !failed_;
    }
    z_.next_in = static_cast<Bytef *>(const_cast<void *>(data));
    z_.avail_in = static_cast<uInt>(size);
    int result;
    do {
        z_.next_out = out_;
        z_.avail_out = sizeof out_;
        result = deflate(&z_, last ? Z_FINISH : Z_NO_FLUSH);
        size_t produced = sizeof out_ - z_.avail_out;
        if (result == Z_STREAM_ERROR ||
            (produced > 0 && std::fwrite(out_, 1, produced, file_) != produced)) {
            failed_ = true;
            errno_ = errno;
            return false;
        }
        offset_ += produced;
    } while (z_.avail_out == 0 || (last && result != Z_STREAM_END));
    if (last) {
        deflateReset(&z_);
    }
    return true;
}

bool WarcWriter::Write(const std::string &head, const unsigned char *block, size_t blockSize) {
    lastOffset_ = offset_;
    std::string fields = head + "Content-Length: " + std::to_string(blockSize) + "\r\n\r\n";
    // Blocks larger than zlib's 32-bit count go in pieces.
    bool ok = Put(fields.data(), fields.size(), false);
    const size_t kPiece = 1u << 30;
    for (size_t done = 0; ok && done < blockSize; done += kPiece) {
        ok = Put(block + done, std::min(kPiece, blockSize - done), false);
    }
    return ok && Put("\r\n\r\n", 4, true);
}

bool WarcWriter::Close(std::string &error) {
    if (file_ == nullptr) {
        return !failed_;
    }
    bool ok = !failed_ && std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    int savedErrno = failed_ ? errno_ : errno;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) {
        error = std::string("cannot write the archive: ") +
                std::strerror(savedErrno != 0 ? savedErrno : errno);
    }
    return ok;
}

} // namespace qvork_host

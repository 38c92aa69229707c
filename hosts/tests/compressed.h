// Compressed bodies for the host's tests and benchmarks: gzip, zlib or raw
// deflate (by zlib's window bits) and brotli, as a server would store them.
#ifndef QVORK_HOSTS_TESTS_COMPRESSED_H
#define QVORK_HOSTS_TESTS_COMPRESSED_H

#include <brotli/encode.h>
#include <zlib.h>

#include <string>

namespace qvork_test {

// bits: 16 + 15 gzip, 15 zlib, -15 raw deflate.
inline std::string Deflated(const std::string &text, int bits, int level = 6) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, text.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

inline std::string Gzipped(const std::string &text, int level = 6) {
    return Deflated(text, 16 + MAX_WBITS, level);
}

inline std::string Brotlied(const std::string &text) {
    size_t size = BrotliEncoderMaxCompressedSize(text.size()) + 16;
    std::string out(size, '\0');
    BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, text.size(),
                          reinterpret_cast<const uint8_t *>(text.data()), &size,
                          reinterpret_cast<uint8_t *>(out.data()));
    out.resize(size);
    return out;
}

} // namespace qvork_test

#endif

// Stored bodies as the server sent them: de-chunked (Transfer-Encoding:
// chunked) and decoded (Content-Encoding gzip, x-gzip, deflate as zlib or
// raw, br), streamed through fixed buffers whatever the body's size. Every
// length and every byte comes from a cache and may be damaged: a body that
// does not decode says why, and the caller keeps the stored bytes.
#ifndef QVORK_HOSTS_WEB_BODY_DECODE_H
#define QVORK_HOSTS_WEB_BODY_DECODE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qvork_host {

struct BodyCoding {
    bool chunked = false;               // Transfer-Encoding holds "chunked"
    std::vector<std::string> encodings; // Content-Encoding tokens, in the order applied
    bool Plain() const { return !chunked && encodings.empty(); }
};

// The coding that the header fields name. "identity" is left out; false
// with `error` naming an encoding this host cannot undo.
bool CodingOf(const std::string &transferEncoding, const std::string &contentEncoding,
              BodyCoding &coding, std::string &error);

// How much a stored body of `storedSize` bytes may decode to: at least
// 256 MiB, and more than one layer of deflate ever gives. A body nested gzip
// in gzip can make gigabytes of a few hundred bytes.
uint64_t DecodeLimit(uint64_t storedSize);

// Reads `in` to its end and writes the decoded bytes to `out`. False with
// `error` set when the body does not decode, or decodes to more than `limit`
// bytes (what was written by then is incomplete).
bool DecodeStream(FILE *in, FILE *out, const BodyCoding &coding, std::string &error,
                  uint64_t limit = UINT64_MAX);

// DecodeStream over a string, for small bodies and tests.
bool DecodeBytes(const std::string &in, std::string &out, const BodyCoding &coding,
                 std::string &error, uint64_t limit = UINT64_MAX);

} // namespace qvork_host

#endif

// De-chunking and decoding as a chain of stages, each handing its output to
// the next: chunked -> the encodings, last applied first -> the output.
#include "hosts/qvork/web/body_decode.h"

#include <brotli/decode.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "hosts/qvork/web/http_header.h"

namespace qvork_host {

namespace {

constexpr size_t kBufferSize = 256 * 1024;

class Stage {
public:
    virtual ~Stage() = default;
    virtual bool Write(const unsigned char *data, size_t size) = 0;
    virtual bool Finish() = 0; // the input ended
    std::string error;

protected:
    bool Fail(const std::string &why) {
        error = why;
        return false;
    }
};

// The decoded bytes' end of the chain; false past `limit` bytes.
class LimitedStage : public Stage {
public:
    explicit LimitedStage(uint64_t limit) : limit_(limit) {}

protected:
    bool Counted(size_t size) {
        written_ += size;
        return written_ <= limit_ ||
               Fail("it decodes to more than " + std::to_string(limit_) + " bytes (a body made to fill the disk?)");
    }

private:
    uint64_t limit_;
    uint64_t written_ = 0;
};

class FileStage : public LimitedStage {
public:
    FileStage(FILE *file, uint64_t limit) : LimitedStage(limit), file_(file) {}
    bool Write(const unsigned char *data, size_t size) override {
        if (!Counted(size)) {
            return false;
        }
        if (size != 0 && std::fwrite(data, 1, size, file_) != size) {
            error = "cannot write the decoded body";
            return false;
        }
        return true;
    }
    bool Finish() override { return true; }

private:
    FILE *file_;
};

class StringStage : public LimitedStage {
public:
    StringStage(std::string &out, uint64_t limit) : LimitedStage(limit), out_(out) {}
    bool Write(const unsigned char *data, size_t size) override {
        if (!Counted(size)) {
            return false;
        }
        out_.append(reinterpret_cast<const char *>(data), size);
        return true;
    }
    bool Finish() override { return true; }

private:
    std::string &out_;
};

// Transfer-Encoding: chunked: "SIZE[;ext]\r\n" DATA "\r\n" ... "0\r\n"
// trailers "\r\n". Lines may end in "\n" alone.
class ChunkedStage : public Stage {
public:
    explicit ChunkedStage(Stage &next) : next_(next) {}
    bool Write(const unsigned char *data, size_t size) override {
        size_t i = 0;
        while (i < size) {
            if (state_ == kData) {
                const size_t take = static_cast<size_t>(
                    std::min<unsigned long long>(remaining_, size - i));
                if (!next_.Write(data + i, take)) {
                    return Fail(next_.error);
                }
                i += take;
                remaining_ -= take;
                if (remaining_ == 0) {
                    state_ = kDataEnd;
                }
                continue;
            }
            const char c = static_cast<char>(data[i++]);
            if (c != '\n') {
                if (line_.size() > 4096) {
                    return Fail("a chunk line longer than 4096 bytes");
                }
                line_ += c;
                continue;
            }
            if (!line_.empty() && line_.back() == '\r') {
                line_.pop_back();
            }
            if (!EndLine()) {
                return false;
            }
            line_.clear();
        }
        return true;
    }
    bool Finish() override {
        if (state_ != kDone) {
            return Fail("the chunked body ends before its last chunk");
        }
        return next_.Finish() || Fail(next_.error);
    }

private:
    bool EndLine() {
        switch (state_) {
        case kSize: {
            const std::string digits = line_.substr(0, line_.find(';'));
            size_t end = 0;
            unsigned long long value = 0;
            for (; end < digits.size() && std::isxdigit(static_cast<unsigned char>(digits[end]));
                 ++end) {
                if (value > (1ull << 40)) {
                    return Fail("a chunk size too large to be real");
                }
                value = value * 16 + static_cast<unsigned long long>(
                                         std::isdigit(static_cast<unsigned char>(digits[end]))
                                             ? digits[end] - '0'
                                             : (std::tolower(digits[end]) - 'a' + 10));
            }
            while (end < digits.size() && (digits[end] == ' ' || digits[end] == '\t')) {
                ++end;
            }
            if (end == 0 || end != digits.size()) {
                return Fail("a chunk size that is not hexadecimal");
            }
            remaining_ = value;
            state_ = value == 0 ? kTrailer : kData;
            return true;
        }
        case kDataEnd:
            if (!line_.empty()) {
                return Fail("a chunk longer than its size");
            }
            state_ = kSize;
            return true;
        case kTrailer:
            if (line_.empty()) {
                state_ = kDone;
            }
            return true;
        case kDone:
            return Fail("bytes after the last chunk");
        default:
            return true;
        }
    }

    enum State { kSize, kData, kDataEnd, kTrailer, kDone };
    Stage &next_;
    State state_ = kSize;
    unsigned long long remaining_ = 0;
    std::string line_;
};

// gzip (members in a row), zlib, or raw deflate.
class ZlibStage : public Stage {
public:
    enum Kind { kGzip, kDeflate };
    ZlibStage(Stage &next, Kind kind) : next_(next), kind_(kind), out_(kBufferSize) {
        std::memset(&stream_, 0, sizeof(stream_));
    }
    ~ZlibStage() override {
        if (started_) {
            inflateEnd(&stream_);
        }
    }
    bool Write(const unsigned char *data, size_t size) override {
        size_t i = 0;
        while (i < size) {
            if (ended_) {
                // After a gzip member another may follow; anything else is damage.
                if (kind_ != kGzip || data[i] != 0x1f) {
                    return Fail("bytes after the end of the compressed body");
                }
                inflateReset(&stream_);
                ended_ = false;
            }
            if (!started_ && !Start(data[i], i + 1 < size ? data[i + 1] : -1)) {
                return false;
            }
            stream_.next_in = const_cast<unsigned char *>(data + i);
            const size_t take = std::min<size_t>(size - i, 1u << 30);
            stream_.avail_in = static_cast<uInt>(take);
            while (stream_.avail_in > 0 && !ended_) {
                stream_.next_out = out_.data();
                stream_.avail_out = static_cast<uInt>(out_.size());
                const int result = inflate(&stream_, Z_NO_FLUSH);
                if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                    return Fail(std::string("the compressed body is damaged (") +
                                (stream_.msg != nullptr ? stream_.msg : "zlib") + ")");
                }
                const size_t produced = out_.size() - stream_.avail_out;
                if (!next_.Write(out_.data(), produced)) {
                    return Fail(next_.error);
                }
                if (result == Z_STREAM_END) {
                    ended_ = true;
                } else if (result == Z_BUF_ERROR && produced == 0) {
                    break;
                }
            }
            i += take - stream_.avail_in;
        }
        return true;
    }
    bool Finish() override {
        if (!ended_) {
            return Fail("the compressed body ends before its end");
        }
        return next_.Finish() || Fail(next_.error);
    }

private:
    // deflate: a zlib header when the first two bytes make one, else raw.
    bool Start(int first, int second) {
        int bits = 16 + MAX_WBITS;
        if (kind_ == kDeflate) {
            const bool zlibHeader = second >= 0 && (first & 0x0f) == 8 &&
                                    ((first << 8) | second) % 31 == 0;
            bits = zlibHeader ? MAX_WBITS : -MAX_WBITS;
        }
        if (inflateInit2(&stream_, bits) != Z_OK) {
            return Fail("zlib could not start");
        }
        started_ = true;
        return true;
    }

    Stage &next_;
    Kind kind_;
    z_stream stream_;
    bool started_ = false;
    bool ended_ = false;
    std::vector<unsigned char> out_;
};

class BrotliStage : public Stage {
public:
    explicit BrotliStage(Stage &next)
        : next_(next), state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)),
          out_(kBufferSize) {}
    ~BrotliStage() override { BrotliDecoderDestroyInstance(state_); }
    bool Write(const unsigned char *data, size_t size) override {
        if (state_ == nullptr) {
            return Fail("brotli could not start");
        }
        size_t available = size;
        const uint8_t *next = data;
        while (available > 0 || BrotliDecoderHasMoreOutput(state_)) {
            if (ended_) {
                return available == 0 || Fail("bytes after the end of the compressed body");
            }
            size_t room = out_.size();
            uint8_t *out = out_.data();
            const BrotliDecoderResult result =
                BrotliDecoderDecompressStream(state_, &available, &next, &room, &out, nullptr);
            if (result == BROTLI_DECODER_RESULT_ERROR) {
                return Fail(std::string("the brotli body is damaged (") +
                            BrotliDecoderErrorString(BrotliDecoderGetErrorCode(state_)) + ")");
            }
            if (!next_.Write(out_.data(), out_.size() - room)) {
                return Fail(next_.error);
            }
            if (result == BROTLI_DECODER_RESULT_SUCCESS) {
                ended_ = true;
            } else if (result == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) {
                break;
            }
        }
        return true;
    }
    bool Finish() override {
        if (!ended_) {
            return Fail("the brotli body ends before its end");
        }
        return next_.Finish() || Fail(next_.error);
    }

private:
    Stage &next_;
    BrotliDecoderState *state_;
    bool ended_ = false;
    std::vector<unsigned char> out_;
};

// The chain for `coding` in front of `last`; the first stage takes the body.
Stage &BuildChain(const BodyCoding &coding, Stage &last,
                  std::vector<std::unique_ptr<Stage>> &stages) {
    Stage *next = &last;
    for (const std::string &encoding : coding.encodings) { // first applied = last undone
        if (encoding == "br") {
            stages.push_back(std::make_unique<BrotliStage>(*next));
        } else {
            stages.push_back(std::make_unique<ZlibStage>(
                *next, encoding == "deflate" ? ZlibStage::kDeflate : ZlibStage::kGzip));
        }
        next = stages.back().get();
    }
    if (coding.chunked) {
        stages.push_back(std::make_unique<ChunkedStage>(*next));
        next = stages.back().get();
    }
    return *next;
}

bool Run(Stage &first, const unsigned char *data, size_t size, bool finish, std::string &error) {
    if (!first.Write(data, size) || (finish && !first.Finish())) {
        error = first.error;
        return false;
    }
    return true;
}

} // namespace

bool CodingOf(const std::string &transferEncoding, const std::string &contentEncoding,
              BodyCoding &coding, std::string &error) {
    coding = BodyCoding{};
    for (const std::string &token : HeaderTokens(transferEncoding)) {
        if (token == "chunked") {
            coding.chunked = true;
        } else if (token != "identity") {
            error = "Transfer-Encoding '" + token + "' cannot be undone here";
            return false;
        }
    }
    for (const std::string &token : HeaderTokens(contentEncoding)) {
        if (token == "gzip" || token == "x-gzip" || token == "deflate" || token == "br") {
            coding.encodings.push_back(token);
        } else if (token != "identity") {
            error = "Content-Encoding '" + token + "' cannot be undone here";
            return false;
        }
    }
    return true;
}

uint64_t DecodeLimit(uint64_t storedSize) {
    // brotli alone can give far more than deflate's ratio for a body of
    // one repeated byte: every body may decode to this much, whatever it is.
    constexpr uint64_t kAlways = 256u << 20;
    constexpr uint64_t kMostAnyLayerGives = 1100; // deflate's own ceiling is about 1032:1
    return std::max(kAlways, storedSize > UINT64_MAX / kMostAnyLayerGives ? UINT64_MAX
                                                                          : storedSize * kMostAnyLayerGives);
}

bool DecodeStream(FILE *in, FILE *out, const BodyCoding &coding, std::string &error,
                  uint64_t limit) {
    FileStage last(out, limit);
    std::vector<std::unique_ptr<Stage>> stages;
    Stage &first = BuildChain(coding, last, stages);
    std::vector<unsigned char> buffer(kBufferSize);
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        if (got == 0) {
            if (std::ferror(in)) {
                error = "cannot read the stored body";
                return false;
            }
            return Run(first, nullptr, 0, true, error);
        }
        if (!Run(first, buffer.data(), got, false, error)) {
            return false;
        }
    }
}

bool DecodeBytes(const std::string &in, std::string &out, const BodyCoding &coding,
                 std::string &error, uint64_t limit) {
    out.clear();
    StringStage last(out, limit);
    std::vector<std::unique_ptr<Stage>> stages;
    Stage &first = BuildChain(coding, last, stages);
    return Run(first, reinterpret_cast<const unsigned char *>(in.data()), in.size(), true, error);
}

} // namespace qvork_host

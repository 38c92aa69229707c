// Escaping and padding of untrusted texts for the terminal.
#include "hosts/qvork/text_output.h"

#include <cstdio>

#include "hosts/qvork/web/text_escape.h"

namespace qvork_host {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

void AppendEscaped(std::string &out, unsigned char c) {
    char code[8];
    std::snprintf(code, sizeof(code), "\\x%02x", c);
    out += code;
}

} // namespace

std::string DisplayText(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        // C1 controls too (U+009B is a terminal's CSI); other bytes outside
        // UTF-8 stay, as a terminal of another character set shows them.
        bool printable = true;
        bool c1 = false;
        const size_t length = CharacterAt(text, i, printable, c1);
        for (size_t k = i; k < i + length; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[k]);
            if (IsControl(c) || c1) {
                AppendEscaped(out, c);
            } else {
                out += static_cast<char>(c);
            }
        }
        i += length;
    }
    return out;
}

std::string DisplayLines(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            continue; // the "\n" that follows ends the line
        }
        bool printable = true;
        bool c1 = false;
        const size_t length = CharacterAt(text, i, printable, c1);
        for (size_t k = i; k < i + length; ++k) {
            const unsigned char byte = static_cast<unsigned char>(text[k]);
            if (byte == '\n' || byte == '\t' || (!IsControl(byte) && !c1)) {
                out += static_cast<char>(byte);
            } else {
                AppendEscaped(out, byte);
            }
        }
        i += length;
    }
    return out;
}

std::string PadRight(const std::string &text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string &text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

} // namespace qvork_host

// GNU ls's shell-escape quoting and TSV escapes.
#include "hosts/qvork/web/text_escape.h"

#include <cstdio>
#include <cstring>

namespace qvork_host {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool IsContinuation(const std::string &text, size_t i, unsigned char low = 0x80,
                    unsigned char high = 0xbf) {
    if (i >= text.size()) {
        return false;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    return c >= low && c <= high;
}

// Bytes a shell gives a meaning to anywhere in a word.
bool IsShellSpecial(unsigned char c) {
    return std::strchr(" \t!\"$&'()*;<>?[\\]^`{|}", c) != nullptr && c != '\0';
}

std::string ControlPiece(unsigned char c) {
    switch (c) {
    case '\a': return "\\a";
    case '\b': return "\\b";
    case '\t': return "\\t";
    case '\n': return "\\n";
    case '\v': return "\\v";
    case '\f': return "\\f";
    case '\r': return "\\r";
    case 0x1b: return "\\E";
    default: break;
    }
    char code[8];
    std::snprintf(code, sizeof(code), "\\%03o", c);
    return code;
}

} // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

size_t CharacterAt(const std::string &text, size_t i, bool &printable, bool &c1) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    if (c < 0x80) {
        length = 1;
    } else if (c >= 0xc2 && c <= 0xdf && IsContinuation(text, i + 1)) {
        length = 2;
    } else if (c >= 0xe0 && c <= 0xef &&
               IsContinuation(text, i + 1, c == 0xe0 ? 0xa0 : 0x80, c == 0xed ? 0x9f : 0xbf) &&
               IsContinuation(text, i + 2)) {
        length = 3;
    } else if (c >= 0xf0 && c <= 0xf4 &&
               IsContinuation(text, i + 1, c == 0xf0 ? 0x90 : 0x80, c == 0xf4 ? 0x8f : 0xbf) &&
               IsContinuation(text, i + 2) && IsContinuation(text, i + 3)) {
        length = 4;
    }
    if (length == 0) { // not UTF-8
        c1 = c <= 0x9f;
        printable = false;
        return 1;
    }
    c1 = length == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f;
    printable = !c1 && !(length == 1 && IsControl(c));
    return length;
}

std::string ShellQuoted(const std::string &name) {
    if (name.empty()) {
        return "''";
    }
    bool special = name[0] == '~' || name[0] == '#';
    bool control = false;
    bool quote = false;
    bool doubleSpecial = false; // what "..." would not protect
    for (size_t i = 0; i < name.size();) {
        bool printable = true;
        bool c1 = false;
        const size_t length = CharacterAt(name, i, printable, c1);
        const unsigned char c = static_cast<unsigned char>(name[i]);
        control = control || !printable;
        quote = quote || c == '\'';
        doubleSpecial = doubleSpecial || c == '"' || c == '$' || c == '`' || c == '\\' || c == '!';
        special = special || IsShellSpecial(c);
        i += length;
    }
    if (!special && !control) {
        return name;
    }
    if (quote && !control && !doubleSpecial) {
        return "\"" + name + "\"";
    }
    // '...' runs; a quote as \' between runs; control bytes as $'...'.
    std::string out;
    std::string run;
    bool inRun = false;
    size_t afterControl = 0; // out's size right after a control piece
    auto closeRun = [&]() {
        if (inRun) {
            out += "'" + run + "'";
            run.clear();
            inRun = false;
        }
    };
    for (size_t i = 0; i < name.size();) {
        bool printable = true;
        bool c1 = false;
        const size_t length = CharacterAt(name, i, printable, c1);
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (!printable) {
            // Controls in a row share one $'...', as ls writes them.
            const bool joined = !inRun && out.size() >= 2 && afterControl == out.size();
            closeRun();
            out += joined ? "" : "$'";
            if (joined) {
                out.pop_back();
            }
            for (size_t k = i; k < i + length; ++k) {
                out += ControlPiece(static_cast<unsigned char>(name[k]));
            }
            out += "'";
            afterControl = out.size();
        } else if (c == '\'') {
            closeRun();
            out += "\\'";
        } else {
            run.append(name, i, length);
            inRun = true;
        }
        i += length;
    }
    closeRun();
    return out;
}

std::string TsvField(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        bool printable = true;
        bool c1 = false;
        const size_t length = CharacterAt(text, i, printable, c1);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            // ESC, CSI (U+009B, or the lone byte) and the like would reach
            // a terminal as commands.
            if (IsControl(static_cast<unsigned char>(c)) || c1) {
                for (size_t k = 0; k < length; ++k) {
                    char code[8];
                    std::snprintf(code, sizeof(code), "\\x%02x", static_cast<unsigned char>(text[i + k]));
                    out += code;
                }
            } else {
                out.append(text, i, length);
            }
        }
        i += length;
    }
    return out;
}

std::string TsvUnescape(const std::string &field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char next = field[++i];
        if (next == 'x' && i + 2 < field.size() && HexDigitValue(field[i + 1]) >= 0 &&
            HexDigitValue(field[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(field[i + 1]) * 16 + HexDigitValue(field[i + 2]));
            i += 2;
            continue;
        }
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

} // namespace qvork_host

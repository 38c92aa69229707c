// GNU ls's shell-escape quoting and TSV escapes.
#include "hosts/qvork/web/text_escape.h"

#include <cstdio>
#include <cstring>

namespace qvork_host {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

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

std::string ShellQuoted(const std::string &name) {
    bool special = name.empty() || name[0] == '~' || name[0] == '#';
    bool control = false;
    bool quote = false;
    bool doubleSpecial = false; // what "..." would not protect
    for (unsigned char c : name) {
        control = control || IsControl(c);
        quote = quote || c == '\'';
        doubleSpecial = doubleSpecial || c == '"' || c == '$' || c == '`' || c == '\\' || c == '!';
        special = special || IsShellSpecial(c);
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
    auto closeRun = [&]() {
        if (inRun) {
            out += "'" + run + "'";
            run.clear();
            inRun = false;
        }
    };
    for (unsigned char c : name) {
        if (IsControl(c)) {
            closeRun();
            out += "$'" + ControlPiece(c) + "'";
        } else if (c == '\'') {
            closeRun();
            out += "\\'";
        } else {
            run += static_cast<char>(c);
            inRun = true;
        }
    }
    closeRun();
    return out;
}

std::string TsvField(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
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
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

} // namespace qvork_host

// Link rewriting over gumbo's source positions and a small CSS scanner.
#include "hosts/qvork/web/link_rewrite.h"

#include <gumbo.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "hosts/qvork/web/text_escape.h"

namespace qvork_host {

namespace {

struct Edit {
    size_t offset;
    size_t length;
    std::string text;
};

std::string Apply(const std::string &source, std::vector<Edit> edits) {
    std::sort(edits.begin(), edits.end(),
              [](const Edit &a, const Edit &b) { return a.offset < b.offset; });
    std::string out;
    size_t at = 0;
    for (const Edit &edit : edits) {
        if (edit.offset < at || edit.offset + edit.length > source.size()) {
            continue; // overlapping or outside: keep the bytes as they are
        }
        out.append(source, at, edit.offset - at);
        out += edit.text;
        at = edit.offset + edit.length;
    }
    out.append(source, at, std::string::npos);
    return out;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// A CSS string or url() value with its escapes undone: "\)" is ")", "\29 "
// the code point 0x29 (written as UTF-8), a backslash before a line end
// nothing.
std::string CssUnescaped(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        size_t end = i + 1;
        unsigned long code = 0;
        while (end < text.size() && end < i + 7 && HexDigitValue(text[end]) >= 0) {
            code = code * 16 + static_cast<unsigned long>(HexDigitValue(text[end++]));
        }
        if (end == i + 1) {
            if (text[end] != '\n') {
                out += text[end];
            }
            i = end;
            continue;
        }
        if (code == 0 || code > 0x10ffff) {
            code = 0xfffd;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
        i = end < text.size() && IsSpace(text[end]) ? end : end - 1;
    }
    return out;
}

// CSS edits of `sheet`, their offsets shifted by `base`.
void CssEdits(const std::string &sheet, const LinkMap &map, size_t base, std::vector<Edit> &edits) {
    size_t i = 0;
    const size_t n = sheet.size();
    auto quotedAt = [&](size_t start) { // a '...' or "..." string at start; its end
        const char quote = sheet[start];
        size_t end = start + 1;
        while (end < n && sheet[end] != quote && sheet[end] != '\n') {
            end += sheet[end] == '\\' ? 2 : 1;
        }
        return std::min(end, n);
    };
    auto mapRange = [&](size_t start, size_t end) {
        const std::string value = CssUnescaped(sheet.substr(start, end - start));
        if (const auto replaced = map(value)) {
            std::string text;
            for (char c : *replaced) { // keep it valid inside quotes and url()
                if (c == '"' || c == '\'' || c == '(' || c == ')' || c == '\\' || IsSpace(c)) {
                    text += '\\';
                }
                text += c;
            }
            edits.push_back({base + start, end - start, text});
        }
    };
    // The value at `start` (after white space): a quoted string, or with
    // `bare` a value up to ")" or white space. Returns where scanning goes on.
    auto mapValue = [&](size_t start, bool bare) {
        while (start < n && IsSpace(sheet[start])) {
            ++start;
        }
        if (start < n && (sheet[start] == '"' || sheet[start] == '\'')) {
            const size_t end = quotedAt(start);
            mapRange(start + 1, end);
            return end + 1;
        }
        size_t end = start;
        while (bare && end < n && sheet[end] != ')' && !IsSpace(sheet[end])) {
            if (sheet[end] != '\\' || end + 1 == n) {
                ++end;
                continue;
            }
            // An escape belongs to the value: "\)", or up to six hex digits
            // and the one white space that may end them ("\29 b").
            size_t digits = end + 1;
            while (digits < n && digits < end + 7 && HexDigitValue(sheet[digits]) >= 0) {
                ++digits;
            }
            end = digits == end + 1 ? end + 2 : digits < n && IsSpace(sheet[digits]) ? digits + 1 : digits;
        }
        if (end > start) {
            mapRange(start, end);
        }
        return end;
    };
    while (i < n) {
        if (sheet.compare(i, 2, "/*") == 0) {
            const size_t end = sheet.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else if (sheet[i] == '"' || sheet[i] == '\'') {
            i = quotedAt(i) + 1;
        } else if ((i == 0 || !std::isalnum(static_cast<unsigned char>(sheet[i - 1]))) &&
                   strncasecmp(sheet.c_str() + i, "url(", 4) == 0) {
            i = mapValue(i + 4, true);
        } else if (strncasecmp(sheet.c_str() + i, "@import", 7) == 0) {
            i = mapValue(i + 7, false); // an url(...) after it: the case above takes it
        } else {
            ++i;
        }
    }
}

// `value` escaped for an attribute value in `quote`s: & and the quote as
// references.
std::string AttributeEscaped(const std::string &value, char quote) {
    std::string out;
    for (char c : value) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == quote) {
            out += quote == '"' ? "&quot;" : "&#39;";
        } else {
            out += c;
        }
    }
    return out;
}

// A new attribute value written in the original's quotes (double quotes
// for an unquoted one), with & and the quote as references.
std::string AttributeText(const std::string &value, char quote) {
    return quote + AttributeEscaped(value, quote) + quote;
}

// `url` with the commas that begin or end it written as %2C: a srcset
// reader takes them for separators.
std::string WithoutEdgeCommas(const std::string &url) {
    const size_t first = std::min(url.find_first_not_of(','), url.size());
    const size_t last = url.find_last_not_of(',');
    const size_t end = last == std::string::npos ? first : last + 1;
    std::string out;
    for (size_t i = 0; i < first; ++i) {
        out += "%2C";
    }
    out.append(url, first, end - first);
    for (size_t i = end; i < url.size(); ++i) {
        out += "%2C";
    }
    return out;
}

// srcset: "url [descriptor], url [descriptor], ..."; its edits.
void SrcsetEdits(const std::string &value, const LinkMap &map, std::vector<Edit> &edits) {
    size_t i = 0;
    while (i < value.size()) {
        size_t start = i;
        while (start < value.size() && (IsSpace(value[start]) || value[start] == ',')) {
            ++start;
        }
        size_t end = start;
        while (end < value.size() && !IsSpace(value[end])) {
            ++end;
        }
        // A URL ends at white space; a comma right before it ends the candidate.
        size_t urlEnd = end;
        while (urlEnd > start && value[urlEnd - 1] == ',') {
            --urlEnd;
        }
        if (urlEnd > start) {
            if (const auto replaced = map(value.substr(start, urlEnd - start))) {
                edits.push_back({start, urlEnd - start, WithoutEdgeCommas(*replaced)});
            }
        }
        size_t next = end;
        if (urlEnd == end) {
            next = value.find(',', end);
            next = next == std::string::npos ? value.size() : next;
        }
        i = next;
    }
}

// "5; url=target" of a meta refresh; its edit.
void RefreshEdits(const std::string &value, const LinkMap &map, std::vector<Edit> &edits) {
    size_t at = 0;
    while (at < value.size() && (std::isdigit(static_cast<unsigned char>(value[at])) ||
                                 value[at] == '.' || IsSpace(value[at]))) {
        ++at;
    }
    if (at < value.size() && (value[at] == ';' || value[at] == ',')) {
        ++at;
    }
    while (at < value.size() && IsSpace(value[at])) {
        ++at;
    }
    if (strncasecmp(value.c_str() + at, "url", 3) == 0) {
        size_t eq = at + 3;
        while (eq < value.size() && IsSpace(value[eq])) {
            ++eq;
        }
        if (eq < value.size() && value[eq] == '=') {
            at = eq + 1;
            while (at < value.size() && IsSpace(value[at])) {
                ++at;
            }
        }
    }
    size_t end = value.size();
    if (at < value.size() && (value[at] == '\'' || value[at] == '"')) {
        const size_t close = value.find(value[at], at + 1);
        ++at;
        end = close == std::string::npos ? value.size() : close;
    }
    while (end > at && IsSpace(value[end - 1])) {
        --end;
    }
    if (end > at) {
        if (const auto replaced = map(value.substr(at, end - at))) {
            edits.push_back({at, end - at, *replaced});
        }
    }
}

bool IsUrlAttribute(const char *name) {
    static const char *const kNames[] = {"href", "src", "action", "poster", "background", "data"};
    for (const char *known : kNames) {
        if (strcasecmp(name, known) == 0) {
            return true;
        }
    }
    return false;
}

bool IsUtf8(const std::string &text) {
    bool printable = false;
    bool c1 = false;
    for (size_t i = 0; i < text.size();) {
        const size_t length = CharacterAt(text, i, printable, c1);
        if (length == 1 && static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
        i += length;
    }
    return true;
}

// `raw` with the character references a link holds undone (&amp;, &lt;,
// &gt;, &quot;, &apos; and numeric ones of ASCII characters); every other
// byte is kept as it is. `from`, when given, gets the place in `raw` of each
// byte of the result, then raw's size; `kept`, when given, the places in the
// result of the references of other kinds, kept as they are.
std::string WithoutReferences(const std::string &raw, std::vector<size_t> *from = nullptr,
                              std::vector<size_t> *kept = nullptr) {
    static const std::pair<const char *, char> kNamed[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        const size_t start = i;
        bool undone = false;
        for (const auto &named : kNamed) {
            const size_t length = std::strlen(named.first);
            if (raw.compare(i, length, named.first) == 0) {
                out += named.second;
                i += length - 1;
                undone = true;
                break;
            }
        }
        if (!undone && raw.compare(i, 2, "&#") == 0) {
            const bool hex = i + 2 < raw.size() && (raw[i + 2] == 'x' || raw[i + 2] == 'X');
            const size_t digits = i + (hex ? 3 : 2);
            size_t end = digits;
            unsigned code = 0;
            for (; end < raw.size() && end < i + 10; ++end) {
                const int digit = hex ? HexDigitValue(raw[end])
                                      : (std::isdigit(static_cast<unsigned char>(raw[end])) != 0
                                             ? raw[end] - '0'
                                             : -1);
                if (digit < 0) {
                    break;
                }
                code = code * (hex ? 16 : 10) + static_cast<unsigned>(digit);
            }
            if (end < raw.size() && raw[end] == ';' && end > digits && code > 0 && code < 0x80) {
                out += static_cast<char>(code);
                i = end;
                undone = true;
            }
        }
        if (!undone && raw[i] == '&' && kept != nullptr) {
            // "&name;" or "&#...;" left as it is
            size_t end = i + 1;
            while (end < raw.size() && (std::isalnum(static_cast<unsigned char>(raw[end])) || raw[end] == '#')) {
                ++end;
            }
            if (end > i + 1 && end < raw.size() && raw[end] == ';') {
                kept->push_back(out.size());
            }
        }
        if (!undone) {
            out += raw[i];
        }
        if (from != nullptr) {
            from->resize(out.size(), start);
        }
    }
    if (from != nullptr) {
        from->push_back(raw.size());
    }
    return out;
}

// The quote an attribute's source text `original` is written in, or 0
// when it is unquoted.
char QuoteOf(const GumboStringPiece &original) {
    const char first = original.length >= 2 ? original.data[0] : 0;
    return (first == '"' || first == '\'') && original.data[original.length - 1] == first ? first : 0;
}

// TRUE when `attribute` has a value written in `page`: not one gumbo
// implied, nor the name it gives as the value of one written without
// ("<a href>").
bool HasSourceValue(const GumboAttribute &attribute, const std::string &page) {
    const GumboStringPiece &original = attribute.original_value;
    return original.data != nullptr && original.length != 0 && original.data != attribute.original_name.data &&
           original.data >= page.data() && original.data + original.length <= page.data() + page.size();
}

// The value of the attribute at `original`: the page's own bytes when they
// hold no character reference or white space to undo, else gumbo's decoded
// `value` when they are UTF-8; in a page of another encoding gumbo's value
// (made UTF-8) would change the link's bytes, so the references are undone
// here instead.
std::string ValueOf(const GumboStringPiece &original, const char *value) {
    const size_t from = QuoteOf(original) != 0 ? 1 : 0;
    const std::string raw(original.data + from, original.length - 2 * from);
    if (raw.find_first_of("&\t\n\r") == std::string::npos) {
        return raw;
    }
    return IsUtf8(raw) ? std::string(value) : WithoutReferences(raw);
}

// The children of a document, element or template node; null for others.
const GumboVector *ChildrenOf(const GumboNode *node) {
    if (node->type == GUMBO_NODE_DOCUMENT) {
        return &node->v.document.children;
    }
    if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
        return &node->v.element.children;
    }
    return nullptr;
}

// The first <base> element's href attribute in document order, or null. A
// <base> inside a template's contents or in SVG or MathML is no base to a
// browser. The tree is walked without recursion: pages nest elements
// thousands deep.
const GumboAttribute *BaseHref(const GumboNode *document) {
    std::vector<const GumboNode *> pending{document};
    while (!pending.empty()) {
        const GumboNode *node = pending.back();
        pending.pop_back();
        if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_BASE &&
            node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML) {
            if (const GumboAttribute *href = gumbo_get_attribute(&node->v.element.attributes, "href")) {
                return href;
            }
        }
        const GumboVector *children = node->type == GUMBO_NODE_TEMPLATE ? nullptr : ChildrenOf(node);
        for (unsigned i = children != nullptr ? children->length : 0; i > 0; --i) {
            pending.push_back(static_cast<const GumboNode *>(children->data[i - 1]));
        }
    }
    return nullptr;
}

// The edits of one node: a <style> sheet's links, or an element's link
// attributes.
void NodeEdits(const GumboNode *node, const std::string &page, const LinkMap &map,
               const GumboAttribute *base, std::vector<Edit> &edits) {
    if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_CDATA) {
        const GumboNode *parent = node->parent;
        if (parent != nullptr && parent->type == GUMBO_NODE_ELEMENT &&
            parent->v.element.tag == GUMBO_TAG_STYLE && node->v.text.original_text.data != nullptr) {
            const size_t offset = node->v.text.start_pos.offset;
            const std::string sheet(node->v.text.original_text.data,
                                    node->v.text.original_text.length);
            CssEdits(sheet, map, offset, edits);
        }
        return;
    }
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) {
        return;
    }
    const GumboElement &element = node->v.element;
    bool refresh = false;
    for (unsigned i = 0; i < element.attributes.length; ++i) {
        const auto *attribute = static_cast<const GumboAttribute *>(element.attributes.data[i]);
        refresh = refresh || (strcasecmp(attribute->name, "http-equiv") == 0 &&
                              strcasecmp(attribute->value, "refresh") == 0);
    }
    for (unsigned i = 0; i < element.attributes.length; ++i) {
        const auto *attribute = static_cast<const GumboAttribute *>(element.attributes.data[i]);
        const GumboStringPiece &original = attribute->original_value;
        if (!HasSourceValue(*attribute, page) || attribute == base) {
            continue; // nothing to change, or written by RewriteHtml
        }
        const bool url = IsUrlAttribute(attribute->name);
        const bool srcset = strcasecmp(attribute->name, "srcset") == 0;
        const bool content = refresh && strcasecmp(attribute->name, "content") == 0;
        if (!url && !srcset && !content && strcasecmp(attribute->name, "style") != 0) {
            continue;
        }
        // The links a srcset, a refresh or a style holds, as edits of `text`.
        auto inner = [&](const std::string &text, std::vector<Edit> &found) {
            if (srcset) {
                SrcsetEdits(text, map, found);
            } else if (content) {
                RefreshEdits(text, map, found);
            } else {
                CssEdits(text, map, 0, found);
            }
        };
        const size_t at = static_cast<size_t>(original.data - page.data());
        const bool quoted = QuoteOf(original) != 0;
        const char quote = quoted ? QuoteOf(original) : '"';
        if (!url && quoted) {
            // Only the links change, each in the page's own bytes, where
            // every reference undone here maps back to its place.
            const std::string raw(original.data + 1, original.length - 2);
            std::vector<size_t> from;
            std::vector<size_t> kept;
            const std::string text = WithoutReferences(raw, &from, &kept);
            std::vector<Edit> found;
            inner(text, found);
            // A link holding a reference only gumbo undoes is read from its value.
            const bool whole = std::any_of(found.begin(), found.end(), [&](const Edit &edit) {
                return std::any_of(kept.begin(), kept.end(), [&](size_t at) {
                    return at >= edit.offset && at < edit.offset + edit.length;
                });
            });
            if (!whole) {
                for (const Edit &edit : found) {
                    const size_t start = from[edit.offset];
                    edits.push_back({at + 1 + start, from[edit.offset + edit.length] - start,
                                     AttributeEscaped(edit.text, quote)});
                }
                continue;
            }
        }
        // The whole value rewritten: a link, or a value with a link whose
        // references only gumbo undoes.
        const std::string value = ValueOf(original, attribute->value);
        std::optional<std::string> replaced;
        if (url) {
            replaced = map(value);
        } else {
            std::vector<Edit> found;
            inner(value, found);
            if (!found.empty()) {
                replaced = Apply(value, found);
            }
        }
        if (replaced) {
            edits.push_back({at, original.length, AttributeText(*replaced, quote)});
        }
    }
}

// The edits of every node under `document`, walked without recursion.
void Walk(const GumboNode *document, const std::string &page, const LinkMap &map,
          const GumboAttribute *base, std::vector<Edit> &edits) {
    std::vector<const GumboNode *> pending{document};
    while (!pending.empty()) {
        const GumboNode *node = pending.back();
        pending.pop_back();
        NodeEdits(node, page, map, base, edits);
        if (const GumboVector *children = ChildrenOf(node)) {
            for (unsigned i = 0; i < children->length; ++i) {
                pending.push_back(static_cast<const GumboNode *>(children->data[i]));
            }
        }
    }
}

// Memory for one parse, handed out in order and released all at once.
class Arena {
public:
    static void *Allocate(void *self, size_t size) {
        return static_cast<Arena *>(self)->Take(size);
    }
    static void Release(void *, void *) {}

private:
    void *Take(size_t size) {
        size = (size + 15) & ~static_cast<size_t>(15);
        if (size > kBlock / 4) {
            blocks_.emplace_back(new std::max_align_t[size / sizeof(std::max_align_t) + 1]);
            return blocks_.back().get();
        }
        if (used_ + size > kBlock || current_.empty()) {
            current_.emplace_back(new std::max_align_t[kBlock / sizeof(std::max_align_t)]);
            used_ = 0;
        }
        void *at = reinterpret_cast<char *>(current_.back().get()) + used_;
        used_ += size;
        return at;
    }

    static constexpr size_t kBlock = 256 * 1024;
    std::vector<std::unique_ptr<std::max_align_t[]>> blocks_;  // large requests
    std::vector<std::unique_ptr<std::max_align_t[]>> current_; // filled in turn
    size_t used_ = kBlock;
};

} // namespace

std::string RewriteHtml(const std::string &page, const LinkMap &map, const LinkMap &base) {
    // gumbo allocates for every token; a bump arena freed whole after the
    // parse takes most of that cost away.
    Arena arena;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Arena::Allocate;
    options.deallocator = &Arena::Release;
    options.userdata = &arena;
    options.max_errors = 0; // parse errors are not looked at: none is recorded
    GumboOutput *output = gumbo_parse_with_options(&options, page.data(), page.size());
    if (output == nullptr) {
        return page;
    }
    std::vector<Edit> edits;
    const GumboAttribute *baseHref = BaseHref(output->document);
    if (baseHref != nullptr && base && HasSourceValue(*baseHref, page)) {
        const GumboStringPiece &original = baseHref->original_value;
        if (const auto replaced = base(ValueOf(original, baseHref->value))) {
            const char quote = QuoteOf(original) != 0 ? QuoteOf(original) : '"';
            edits.push_back({static_cast<size_t>(original.data - page.data()), original.length,
                             AttributeText(*replaced, quote)});
        }
    } else {
        baseHref = nullptr; // not from the source: an ordinary attribute, if anything
    }
    Walk(output->document, page, map, baseHref, edits);
    // The arena frees the tree whole: gumbo_destroy_output would only walk
    // it, recursively, which a deep enough page turns into a stack overflow.
    return Apply(page, edits);
}

std::string RewriteCss(const std::string &sheet, const LinkMap &map) {
    std::vector<Edit> edits;
    CssEdits(sheet, map, 0, edits);
    return Apply(sheet, edits);
}

} // namespace qvork_host

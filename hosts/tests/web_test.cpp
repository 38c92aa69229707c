// The console host's pure helpers: quoting, TSV, header fields and dates,
// body decoding, URL resolution and link rewriting.
#include <gtest/gtest.h>

#include "hosts/qvork/web/body_decode.h"
#include "hosts/qvork/web/http_header.h"
#include "hosts/qvork/web/link_rewrite.h"
#include "hosts/qvork/web/text_escape.h"
#include "hosts/qvork/web/url.h"
#include "hosts/tests/compressed.h"

using namespace qvork_host;

using qvork_test::Brotlied;
using qvork_test::Deflated;

TEST(TextEscapeTest, QuotesAsGnuLs) {
    const struct {
        std::string name, quoted;
    } cases[] = {
        {"plain.html", "plain.html"},     {"a b", "'a b'"},
        {"list?page=2", "'list?page=2'"}, {"it's", "\"it's\""},
        {"it's $5", "'it'\\''s $5'"},     {"a\nb", "'a'$'\\n''b'"},
        {"~home", "'~home'"},             {"\x1b[2J", "$'\\E''[2J'"},
        {"", "''"},                       {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"c1\xc2\x9b" "31m", "'c1'$'\\302\\233''31m'"},
        {"bad\xff\xfe", "'bad'$'\\377\\376'"},      {"a\n\tb", "'a'$'\\n\\t''b'"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ShellQuoted(c.name), c.quoted) << c.name;
    }
    const std::string field = "a\tb\nc\\d\re\x1b";
    EXPECT_EQ(TsvField(field), "a\\tb\\nc\\\\d\\re\\x1b");
    EXPECT_EQ(TsvUnescape(TsvField(field)), field);
    // CSI, as UTF-8 and as the lone byte, starts terminal commands too.
    EXPECT_EQ(TsvField("a\xc2\x9b" "2J\x9b" "b\xc3\xa9"), "a\\xc2\\x9b2J\\x9bb\xc3\xa9");
}

TEST(HttpHeaderTest, FieldsAndDates) {
    const HttpHeader header = ParseHttpHeader(
        "HTTP/1.1 301 Moved\r\nlocation: /a\r\nX-Long: one\r\n two\r\nbroken line\r\n"
        "Content-Encoding: gzip, BR");
    EXPECT_EQ(header.status, 301);
    EXPECT_EQ(header.Field("Location"), "/a");
    EXPECT_EQ(header.Field("x-long"), "one two");
    EXPECT_EQ(HeaderTokens(header.Field("Content-Encoding")), (std::vector<std::string>{"gzip", "br"}));
    EXPECT_EQ(ParseHttpHeader("garbage\r\nA: b").status, 0);
    EXPECT_EQ(ParseHttpHeader("HTTP/1.1 2000 OK").status, 0) << "four digits are no status";
    const struct {
        const char *text;
        const char *iso; // "" when it must not parse
    } dates[] = {
        {"Mon, 01 Apr 2002 10:00:00 GMT", "2002-04-01T10:00:00Z"},
        {"Sunday, 06-Nov-94 08:49:37 GMT", "1994-11-06T08:49:37Z"},
        {"Sun Nov  6 08:49:37 1994", "1994-11-06T08:49:37Z"},
        {"Thu, 29 Feb 2024 23:59:59 GMT", "2024-02-29T23:59:59Z"},
        {"Mon, 01 Foo 2002 10:00:00 GMT", ""},
        {"Mon, 01 Apr 2002 25:00:00 GMT", ""},
        {"Mon, 01 Apr 2002 10:00:00 GMT trailing", ""},
        {"", ""},
    };
    for (const auto &d : dates) {
        const auto when = ParseHttpDate(d.text);
        EXPECT_EQ(when ? IsoDate(*when) : "", d.iso) << d.text;
    }
}

TEST(BodyDecodeTest, EncodingsChunksAndDamage) {
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    const std::string gzip = Deflated(text, 16 + MAX_WBITS);
    const struct {
        const char *transfer, *content;
        std::string body;
        bool decodes;
    } cases[] = {
        {"", "gzip", gzip, true},
        {"", "x-gzip", gzip + gzip.substr(0, 0), true},
        {"", "deflate", Deflated(text, MAX_WBITS), true},
        {"", "deflate", Deflated(text, -MAX_WBITS), true},
        {"", "br", Brotlied(text), true},
        {"", "gzip, br", Brotlied(gzip), true},
        {"", "gzip", gzip.substr(0, gzip.size() / 2), false},
        {"", "gzip", gzip + "junk", false},
        {"", "br", "not brotli", false},
        {"chunked", "", "zz\r\n", false},
        {"chunked", "", "5\r\nline ", false},
        {"chunked", "", "ffffffffffffffffff\r\n", false},
    };
    for (const auto &c : cases) {
        BodyCoding coding;
        std::string error;
        ASSERT_TRUE(CodingOf(c.transfer, c.content, coding, error));
        std::string out;
        const bool decoded = DecodeBytes(c.body, out, coding, error);
        EXPECT_EQ(decoded, c.decodes) << c.content << " " << error;
        if (decoded) {
            EXPECT_TRUE(out == text) << c.content;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    BodyCoding coding;
    std::string error;
    ASSERT_TRUE(CodingOf("chunked", "", coding, error));
    std::string out;
    EXPECT_TRUE(DecodeBytes("5\r\nline \r\n2;x=y\r\n0\n\r\n0\r\nT: 1\r\n\r\n", out, coding, error));
    EXPECT_EQ(out, "line 0\n");
    // gzip in gzip: a few hundred bytes that decode to 40 MB stop at a
    // 16 MiB limit; the same bytes once compressed decode whole under the
    // limit a body of their size gets.
    const std::string zeros(40u << 20, '\0');
    const std::string once = Deflated(zeros, 16 + MAX_WBITS, 9);
    const std::string twice = Deflated(once, 16 + MAX_WBITS, 9);
    ASSERT_TRUE(CodingOf("", "gzip, gzip", coding, error));
    EXPECT_FALSE(DecodeBytes(twice, out, coding, error, 16u << 20));
    EXPECT_NE(error.find("decodes to more than"), std::string::npos) << error;
    EXPECT_TRUE(DecodeBytes(twice, out, coding, error, DecodeLimit(twice.size())));
    EXPECT_EQ(out.size(), zeros.size());
    EXPECT_EQ(DecodeLimit(1u << 20), uint64_t{1100} << 20);
    EXPECT_FALSE(CodingOf("", "compress", coding, error));
}

TEST(UrlTest, ResolveKeyAndRelativeLinks) {
    const std::string page = "http://s.test/a/b/page.html?q=1";
    const struct {
        const char *reference, *resolved;
    } references[] = {
        {"c.html", "http://s.test/a/b/c.html"},      {"../c.html#f", "http://s.test/a/c.html#f"},
        {"/x/../y", "http://s.test/y"},              {"//s.test/z", "http://s.test/z"},
        {"?p=2", "http://s.test/a/b/page.html?p=2"}, {"https://o.test/", "https://o.test/"},
        {"../../../up", "http://s.test/up"},
    };
    for (const auto &r : references) {
        EXPECT_EQ(ResolveReference(page, r.reference), r.resolved) << r.reference;
    }
    std::string key;
    EXPECT_TRUE(KeyOnSite("HTTPS://S.TEST:80/list?page=2#top", "s.test", key));
    EXPECT_EQ(key, "list?page=2");
    EXPECT_TRUE(KeyOnSite("http://m.test/video/clip.txt", "m.test/video", key));
    EXPECT_EQ(key, "clip.txt");
    EXPECT_FALSE(KeyOnSite("http://m.test/videos/clip.txt", "m.test/video", key));
    EXPECT_FALSE(KeyOnSite("http://other.test/a", "s.test", key));
    // The same site however the authority is written.
    for (const char *same : {"https://s.test:443/k", "http://u:p@s.test/k", "http://s.test:/k",
                             "http://S.test.:80/k"}) {
        EXPECT_TRUE(KeyOnSite(same, "s.test", key) && key == "k") << same;
    }
    EXPECT_FALSE(KeyOnSite("http://s.test:8080/k", "s.test", key));
    EXPECT_FALSE(KeyOnSite("mailto:a@s.test", "s.test", key));
    EXPECT_EQ(NormalizedKey("my%20page%2fx%7e"), "my page%2Fx~");
    EXPECT_EQ(NormalizedKey("caf%C3%A9%"), "caf\xc3\xa9%");
    EXPECT_EQ(RelativeLink("s/a/b.html", "s/c/d e.css"), "../c/d%20e.css");
    EXPECT_EQ(RelativeLink("s/index.html", "s/x#1.html"), "x%231.html");
    EXPECT_EQ(RelativeLink("s/index.html", "s/a:b.html"), "./a:b.html");
}

TEST(LinkRewriteTest, OnlyLinkValuesChange) {
    const LinkMap map = [](const std::string &link) -> std::optional<std::string> {
        if (link.rfind("/", 0) == 0) {
            return "R" + link.substr(1);
        }
        return std::nullopt;
    };
    const struct {
        const char *page, *rewritten;
    } pages[] = {
        {"<a href=\"/x\">t</a>", "<a href=\"Rx\">t</a>"},
        {"<A HREF='/x&amp;y' class=k>", "<A HREF='Rx&amp;y' class=k>"},
        {"<img src=/i.png alt=\"/no\">", "<img src=\"Ri.png\" alt=\"/no\">"},
        {"<img srcset=\"/a 1x, b 2x,/c 3x\">", "<img srcset=\"Ra 1x, b 2x,Rc 3x\">"},
        {"<meta http-equiv=Refresh content=\"0; URL='/n'\">",
         "<meta http-equiv=Refresh content=\"0; URL='Rn'\">"},
        {"<p style=\"background:url(/bg)\">", "<p style=\"background:url(Rbg)\">"},
        {"<style>/* url(/no) */ @import '/s.css'; b{x:url( \"/u\" )}</style>",
         "<style>/* url(/no) */ @import 'Rs.css'; b{x:url( \"Ru\" )}</style>"},
        {"<form action=/f><video poster=/p><body background=/g>",
         "<form action=\"Rf\"><video poster=\"Rp\"><body background=\"Rg\">"},
        {"<!-- <a href=/c> --><script>x='<a href=/s>'</script>",
         "<!-- <a href=/c> --><script>x='<a href=/s>'</script>"},
        {"<a href=\"/x\"", "<a href=\"/x\""},
        // Inside a style, srcset or refresh only the links change, whatever
        // references and line ends the rest holds.
        {"<p style='font:&quot;A&quot;;\r\nb:url(&quot;/u&quot;)'><img srcset=\"/a 1x,\r\n/b&#32;2x\">",
         "<p style='font:&quot;A&quot;;\r\nb:url(&quot;Ru&quot;)'><img srcset=\"Ra 1x,\r\nRb&#32;2x\">"},
        {"<p style=\"font:caf&eacute;;b:url(/u)\">", "<p style=\"font:caf&eacute;;b:url(Ru)\">"},
        // Attributes without a value have nothing to rewrite.
        {"<a href>t</a><img src alt=/x><form action><a href=>", "<a href>t</a><img src alt=/x><form action><a href=>"},
    };
    for (const auto &p : pages) {
        EXPECT_EQ(RewriteHtml(p.page, map), p.rewritten) << p.page;
    }
    EXPECT_EQ(RewriteCss("a{b:url(/x y)}", [](const std::string &) { return std::string("n m"); }),
              "a{b:url(n\\ m y)}");
    // The white space that ends a hex escape belongs to the URL.
    EXPECT_EQ(RewriteCss("a{b:url(/a\\29 b.png)}", map), "a{b:url(Ra\\)b.png)}");
    // A comma at a srcset URL's edge would part it from its descriptor.
    EXPECT_EQ(RewriteHtml("<img srcset=\"/x 1x\">", [](const std::string &) { return std::string(",x,"); }),
              "<img srcset=\"%2Cx%2C 1x\">");
    // A page nested deeper than any recursion would go.
    std::string deep;
    for (int i = 0; i < 50000; ++i) deep += "<span>";
    EXPECT_EQ(RewriteHtml(deep + "<a href=/d>", map), deep + "<a href=\"Rd\">");
    // A <base> in a template's contents or in SVG is no base.
    const LinkMap base = [](const std::string &) { return std::string("B"); };
    const std::string ignored = "<template><base href=/t></template><svg><base href=/s /></svg>";
    EXPECT_EQ(RewriteHtml(ignored, map, base), "<template><base href=\"Rt\"></template><svg><base href=\"Rs\" /></svg>");
    EXPECT_EQ(RewriteHtml(ignored + "<base href=/h>", map, base), ignored.substr(0, 0) +
              "<template><base href=\"Rt\"></template><svg><base href=\"Rs\" /></svg><base href=\"B\">");
}

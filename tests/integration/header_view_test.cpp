// Shift+F3 inside a site: the stored HTTP response header of the current
// file, written to a fresh "hdr" temporary file and handed to the host's
// viewer; and every case in which the key is left to the host.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace qvork_test {
namespace {

namespace fs = std::filesystem;

const int kF3 = 114;

class HeaderViewTest : public HostPanelTest {
  protected:
    void TearDown() override {
        // The host deletes the file when its viewer closes; this one does not.
        for (const ViewerCall &call : host.viewers) {
            std::error_code ignored;
            fs::remove(fs::path(call.fileName), ignored);
        }
        HostPanelTest::TearDown();
    }

    // The host's panel now shows the current listing with `name` current.
    void PointAt(const std::string &name) {
        const Listing listing = FindData(panel);
        ScriptedPanel scripted;
        scripted.items.assign(listing.begin(), listing.end());
        plugin->FreeFindData(panel, listing.items, listing.count);
        bool found = false;
        for (size_t i = 0; i < scripted.items.size(); ++i) {
            if (NameOf(scripted.items[i]) != name) continue;
            scripted.currentItem = static_cast<int>(i);
            found = true;
        }
        EXPECT_TRUE(found) << name << " is not listed";
        host.panel = scripted;
    }

    int Press(const std::string &name, unsigned controlState = PKF_SHIFT) {
        PointAt(name);
        return plugin->ProcessKey(panel, kF3, controlState);
    }

    void ExpectNotEntered(int result) {
        EXPECT_EQ(result, FALSE);
        EXPECT_TRUE(host.viewers.empty());
        EXPECT_TRUE(host.Warnings().empty());
    }
};

std::string BaseName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

TEST_F(HeaderViewTest, ShiftF3ShowsTheStoredHeaderInTheViewer) {
    const SiteRecord record = OkRecord("dir/q?a:b|c*d+e", "<html>the body</html>");
    cache.WriteSite("cache1", "s.example", {record});
    ASSERT_EQ(Enter("s.example"), TRUE);
    ASSERT_EQ(Cd("dir"), TRUE);

    EXPECT_EQ(Press("q?a:b|c*d+e"), TRUE);
    ASSERT_EQ(host.viewers.size(), 1u);
    const ViewerCall &view = host.viewers[0];
    EXPECT_TRUE(view.fileExisted);
    EXPECT_EQ(view.contents, record.header) << "no final line end, no blank line";
    EXPECT_EQ(view.title, std::optional<std::string>("q?a:b|c*d+e")) << "the name as listed";
    EXPECT_EQ(view.flags, static_cast<DWORD>(VF_NONMODAL | VF_DELETEONCLOSE));
    EXPECT_EQ(view.flags, 3u);
    EXPECT_EQ(view.x1, 0);
    EXPECT_EQ(view.y1, 0);
    EXPECT_EQ(view.x2, -1);
    EXPECT_EQ(view.y2, -1);
    EXPECT_EQ(BaseName(view.fileName).rfind("hdr", 0), 0u) << view.fileName;
    EXPECT_TRUE(host.Warnings().empty());
    OpenPluginInfo info{};
    plugin->GetOpenPluginInfo(panel, &info);
    EXPECT_STREQ(info.CurDir, "s.example/dir") << "the panel stays where it was";
}

// ---- What the file holds ------------------------------------------------------

struct HeaderCase {
    const char *label;
    std::vector<SiteRecord> records; // the file viewed is "f"
    SiteFileOptions options;
    std::string shown;
    bool wentOn = false; // "f" became a folder: its own page is f/index.htm
};

void PrintTo(const HeaderCase &c, std::ostream *out) { *out << c.label; }

SiteRecord Record(const std::string &url, const std::string &header, const std::string &body,
                  bool separator = true) {
    SiteRecord record;
    record.url = url;
    record.header = header;
    record.body = body;
    record.omitSeparator = !separator;
    return record;
}

std::string LongHeader(size_t size) {
    std::string text = "HTTP/1.0 200 OK\r\nX-Long: ";
    while (text.size() < size) text += static_cast<char>('a' + text.size() % 26);
    return text;
}

SiteFileOptions Unpadded() {
    SiteFileOptions options;
    options.padTail = false;
    return options;
}

const std::string kRedirect =
    "HTTP/1.0 302 Found\r\nLocation: http://www.example.com/a/much/longer/place/to/go.html\r\n"
    "Content-Length: 0";

std::vector<HeaderCase> HeaderCases() {
    const SiteRecord ok = OkRecord("f", "<html>body</html>");
    const SiteRecord gif = OkRecord("f", "GIF", "image/gif");
    const SiteRecord empty = OkRecord("f", "");
    const SiteRecord big = OkRecord("f", std::string(100001, 'b'));
    return {
        {"BodyLongerThanHeader", {ok}, {}, ok.header},
        {"EmptyBody", {empty}, {}, empty.header},
        {"EmptyBodyLastInFile", {empty}, Unpadded(), empty.header},
        {"BodyShorterThanHeader", {gif}, {}, gif.header},
        {"Redirect", {Record("f", kRedirect, "")}, {}, kRedirect},
        {"BodyOverOneChunk", {big}, {}, big.header},
        // The tree found no separator in its window: the header is cut at the
        // first "\r\n\r\n" of what follows it.
        {"HeaderLongerThanTheWindow", {Record("f", LongHeader(1500), "BODY")}, {}, LongHeader(1500)},
        {"ZeroByteInHeader",
         {Record("f", std::string("HTTP/1.0 200 OK\r\nX: a\0b", 24), "BODY")}, {},
         std::string("HTTP/1.0 200 OK\r\nX: a\0b", 24)},
        // No separator at all: everything up to the end of the file.
        {"NoSeparatorEmptyBody", {Record("f", "HTTP/1.0 200 OK\r\nX: y", "", false)}, Unpadded(),
         "HTTP/1.0 200 OK\r\nX: y"},
        {"NoSeparatorWithBody", {Record("f", "HTTP/1.0 200 OK\r\nX: y", "tail", false)}, Unpadded(),
         "HTTP/1.0 200 OK\r\nX: ytail"},
        {"AfterAnotherRecord", {OkRecord("e", std::string(70000, 'e')), ok}, {}, ok.header},
        // A page that URLs go on below: a folder holding it as index.htm.
        {"EntryWithChildren", {OkRecord("g/h", "child"), gif, OkRecord("f/c", "x")}, {}, gif.header, true},
    };
}

class HeaderContentTest : public HeaderViewTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderContentTest, FileHoldsTheHeaderWithoutItsEnd) {
    const HeaderCase &c = GetParam();
    cache.WriteSite("cache1", "s.example", c.records, c.options);
    ASSERT_EQ(Enter("s.example"), TRUE);
    if (c.wentOn) {
        ASSERT_EQ(Cd("f"), TRUE);
    }
    EXPECT_EQ(Press(c.wentOn ? "index.htm" : "f"), TRUE);
    ASSERT_EQ(host.viewers.size(), 1u);
    EXPECT_EQ(host.viewers[0].contents, c.shown);
    EXPECT_TRUE(host.Warnings().empty());
}

INSTANTIATE_TEST_SUITE_P(Headers, HeaderContentTest, ::testing::ValuesIn(HeaderCases()),
                         [](const auto &info) { return std::string(info.param.label); });

TEST_F(HeaderViewTest, EachPressWritesANewTemporaryFile) {
    const SiteRecord record = OkRecord("f", "body");
    cache.WriteSite("cache1", "s.example", {record});
    ASSERT_EQ(Enter("s.example"), TRUE);
    EXPECT_EQ(Press("f"), TRUE);
    EXPECT_EQ(Press("f"), TRUE);
    EXPECT_EQ(Press("f"), TRUE);
    ASSERT_EQ(host.viewers.size(), 3u);
    std::set<std::string> names;
    for (const ViewerCall &view : host.viewers) {
        names.insert(view.fileName);
        EXPECT_EQ(view.contents, record.header);
        EXPECT_EQ(BaseName(view.fileName).rfind("hdr", 0), 0u) << view.fileName;
        EXPECT_TRUE(fs::exists(fs::path(view.fileName))) << "left for the viewer to delete";
    }
    EXPECT_EQ(names.size(), 3u) << "a fresh name every time";
}

// ---- Left to the host ---------------------------------------------------------------

TEST_F(HeaderViewTest, OnlyShiftAloneOpensTheView) {
    cache.WriteSite("cache1", "s.example", {OkRecord("f", "body")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    const unsigned states[] = {0, PKF_CONTROL, PKF_ALT, PKF_SHIFT | PKF_CONTROL, PKF_SHIFT | PKF_ALT,
                               PKF_SHIFT | PKF_CONTROL | PKF_ALT};
    for (unsigned state : states) {
        SCOPED_TRACE("control state " + std::to_string(state));
        ExpectNotEntered(Press("f", state));
    }
    EXPECT_EQ(plugin->ProcessKey(panel, kF3 + 1, PKF_SHIFT), FALSE) << "Shift+F4";
    EXPECT_TRUE(host.viewers.empty());
}

TEST_F(HeaderViewTest, FolderIsLeftToTheHost) {
    cache.WriteSite("cache1", "s.example", {OkRecord("dir/f", "body")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    ExpectNotEntered(Press("dir"));
}

TEST_F(HeaderViewTest, ItemWithoutANodeIsLeftToTheHost) {
    cache.WriteSite("cache1", "s.example", {OkRecord("f", "body")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    ScriptedPanel scripted; // the host's own ".." item carries no node
    scripted.items = {MakePanelItem("..", FILE_ATTRIBUTE_DIRECTORY), MakePanelItem("f")};
    scripted.currentItem = 1;
    host.panel = scripted;
    ExpectNotEntered(plugin->ProcessKey(panel, kF3, PKF_SHIFT));
    host.panel->currentItem = 0;
    ExpectNotEntered(plugin->ProcessKey(panel, kF3, PKF_SHIFT));
}

TEST_F(HeaderViewTest, NoCurrentItemIsLeftToTheHost) {
    cache.WriteSite("cache1", "s.example", {OkRecord("f", "body")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    host.panel = ScriptedPanel{}; // empty panel
    ExpectNotEntered(plugin->ProcessKey(panel, kF3, PKF_SHIFT));
    ScriptedPanel failing;
    failing.answer = FALSE;
    host.panel = failing;
    ExpectNotEntered(plugin->ProcessKey(panel, kF3, PKF_SHIFT));
}

TEST_F(HeaderViewTest, CacheRootIsLeftToTheHost) {
    cache.WriteSite("cache1", "s.example", {OkRecord("f", "body")});
    const Listing listing = ReadRoot();
    ScriptedPanel scripted;
    scripted.items.assign(listing.begin(), listing.end());
    host.panel = scripted;
    ExpectNotEntered(plugin->ProcessKey(panel, kF3, PKF_SHIFT));

    // Also after leaving a site, whose nodes are gone by then.
    ASSERT_EQ(Enter("s.example"), TRUE);
    PointAt("f");
    const ScriptedPanel stale = *host.panel;
    ASSERT_EQ(Cd(".."), TRUE);
    host.panel = stale;
    ExpectNotEntered(plugin->ProcessKey(panel, kF3, PKF_SHIFT));
}

// The site file is gone when the view reopens it: the key is left to the host.
TEST_F(HeaderViewTest, SiteFileThatDoesNotReopenIsLeftToTheHost) {
    cache.WriteSite("cache012", "s.example", {OkRecord("f", "body")});
    ASSERT_EQ(Enter("s.example"), TRUE);
    cache.Remove("cache012");
    ExpectNotEntered(Press("f"));
}

// A site is reopened by its own file name, never by the number in it.
TEST_F(HeaderViewTest, SiteIsReopenedByItsOwnFileName) {
    const SiteRecord own = OkRecord("f", "own", "text/own");
    cache.WriteSite("cache012", "own.example", {own});
    cache.WriteSite("cache12", "decoy.example", {OkRecord("f", "decoy", "text/decoy")});
    ASSERT_EQ(Enter("own.example"), TRUE);
    EXPECT_EQ(Press("f"), TRUE);
    ASSERT_EQ(host.viewers.size(), 1u);
    EXPECT_EQ(host.viewers[0].contents, own.header);
}

} // namespace
} // namespace qvork_test

// The panel's parts that do not need a terminal: which plug-in key a
// terminal key is, the columns and cells of rows, the status line, the key
// bar, scrolling, the layout of boxes and dialogs, masked fields and the
// viewer's lines. The panel as a whole is driven in a terminal by
// qvork_panel_test.sh.
#include <curses.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "hosts/qvork/dialog_ui.h"
#include "hosts/qvork/pager.h"
#include "hosts/qvork/panel_view.h"
#include "hosts/qvork/signal_cleanup.h"

namespace qvork_host {
namespace {

TEST(PanelKeysTest, TerminalKeysBecomeTheKeysTheFileManagerPasses) {
    struct Case {
        int terminal;
        PluginKey expected;
    };
    const Case cases[] = {
        {KEY_F(3), {0x72, 0}},                    // F3
        {KEY_F(15), {0x72, PKF_SHIFT}},           // Shift+F3, sent as F15
        {KEY_F(27), {0x72, PKF_CONTROL}},         // Ctrl+F3, sent as F27
        {KEY_F(10), {0x79, 0}},                   // F10
        {18, {'R', PKF_CONTROL}},                 // Ctrl+R
        {28, {kVkBackslash, PKF_CONTROL}},        // Ctrl+\ .
        {'r', {'R', 0}},
        {'R', {'R', PKF_SHIFT}},
        {'7', {'7', 0}},
        {'\r', {kVkReturn, 0}},
        {KEY_ENTER, {kVkReturn, 0}},
        {KEY_IC, {kVkInsert, 0}},
        {' ', {kVkSpace, 0}},
        {KEY_PPAGE, {kVkPrior, 0}},
        {KEY_END, {kVkEnd, 0}},
        {KEY_BTAB, {kVkTab, PKF_SHIFT}},
        {kKeyCtrlPageUp, {kVkPrior, PKF_CONTROL}},
        {kKeyAlt | 'm', {'M', PKF_ALT}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.terminal);
        PluginKey key;
        ASSERT_TRUE(PluginKeyOf(c.terminal, key));
        EXPECT_EQ(key.code, c.expected.code);
        EXPECT_EQ(key.state, c.expected.state);
    }
    PluginKey key;
    EXPECT_FALSE(PluginKeyOf(KEY_RESIZE, key));
    EXPECT_FALSE(PluginKeyOf('#', key));
    EXPECT_FALSE(PluginKeyOf(kKeyAlt | '#', key));
}

TEST(PanelRowsTest, ColumnsShareTheWidthAndFitTheFrame) {
    for (bool atRoot : {true, false}) {
        for (int width : {30, 64, 100, 250}) {
            SCOPED_TRACE(std::to_string(width) + (atRoot ? " root" : " site"));
            const std::vector<PanelColumn> columns = PanelColumns(atRoot, width);
            ASSERT_EQ(columns.size(), atRoot ? 3u : 2u);
            EXPECT_EQ(columns[0].heading, "Name");
            EXPECT_EQ(columns[0].x, 1);
            for (size_t i = 1; i < columns.size(); ++i) {
                EXPECT_EQ(columns[i].x, columns[i - 1].x + columns[i - 1].width + 1);
            }
            EXPECT_EQ(columns.back().x + columns.back().width, width - 1); // the right frame
        }
    }
    // Too narrow for the details: the name alone.
    const std::vector<PanelColumn> narrow = PanelColumns(true, 20);
    ASSERT_EQ(narrow.size(), 1u);
    EXPECT_EQ(narrow[0].width, 18);
}

TEST(PanelRowsTest, CellsAreCutWithTheFileManagersMarkOrPadded) {
    EXPECT_EQ(FitCell("index.html", 6, false), "index}");
    EXPECT_EQ(FitCell("a", 4, false), "a   ");
    EXPECT_EQ(FitCell("28", 5, true), "   28");
    EXPECT_EQ(FitCell("abc", 3, false), "abc");
    EXPECT_EQ(FitCell("abc", 0, false), "");
}

TEST(PanelRowsTest, CellsAndStatusLineOfEachKindOfRow) {
    struct Case {
        RowFacts row;
        std::vector<std::string> cells;
        std::string status;
    };
    RowFacts site;
    site.name = "www.example.com";
    site.folder = true;
    site.atRoot = true;
    site.records = 4;
    site.cacheFile = "cache1";
    site.cacheBytes = 120811;
    RowFacts unreadable;
    unreadable.name = "cache5";
    unreadable.folder = true;
    unreadable.atRoot = true;
    RowFacts dots;
    dots.name = "..";
    dots.dots = true;
    dots.folder = true;
    RowFacts folder;
    folder.name = "img";
    folder.folder = true;
    RowFacts file;
    file.name = "logo.gif";
    file.size = 1;
    RowFacts hostile;
    hostile.name = std::string("a\x1b[2Jb\xdb", 7);
    hostile.size = 0;
    const Case cases[] = {
        {site, {"www.example.com", "4", "cache1"},
         "www.example.com  4 records, cache file cache1, 120811 bytes"},
        {unreadable, {"cache5", "0", "-"}, "cache5  not a readable site"},
        {dots, {"..", "Up"}, "..  up one folder"},
        {folder, {"img", "Folder"}, "img  folder"},
        {file, {"logo.gif", "1"}, "logo.gif  1 byte"},
        {hostile, {hostile.name, "0"}, "a\\x1B[2Jb\\xDB  0 bytes"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(RowCells(c.row), c.cells);
        EXPECT_EQ(StatusText(c.row), c.status);
    }
    RowFacts utf8 = file;
    utf8.name = "caf\xC3\xA9\xC3";
    EXPECT_EQ(StatusText(utf8, true), "caf\xC3\xA9\\xC3  1 byte") << "UTF-8 kept, a cut byte escaped";
    EXPECT_EQ(StatusText(hostile, true), "a\\x1B[2Jb\\xDB  0 bytes");
}

TEST(PanelKeyBarTest, HostKeysThePluginsTitlesOverThemAndItsShiftedTitles) {
    PanelFacts facts;
    std::vector<KeyLabel> labels = KeyBarLabels(facts);
    ASSERT_GE(labels.size(), 6u);
    EXPECT_EQ(labels[0].key + labels[0].label, "1Help");
    EXPECT_EQ(labels[1].key + labels[1].label, "3View");
    EXPECT_EQ(labels[2].key + labels[2].label, "5Copy");
    EXPECT_EQ(labels[5].key + labels[5].label, "10Quit");

    facts.keyTitles[3][2] = "VwHdr"; // ShiftTitles, F3
    facts.keyTitles[0][4] = "Get";   // the plug-in's own F5 title
    labels = KeyBarLabels(facts);
    bool shifted = false;
    for (const KeyLabel &label : labels) {
        if (label.key == "5") {
            EXPECT_EQ(label.label, "Get");
        }
        shifted = shifted || (label.key == "Shift+F3" && label.label == "VwHdr");
    }
    EXPECT_TRUE(shifted);
}

TEST(PanelScrollTest, TheCursorStaysOnScreenMovingTheLeast) {
    struct Case {
        int top, cursor, count, visible, expected;
    };
    const Case cases[] = {
        {0, 0, 100, 10, 0},   {0, 9, 100, 10, 0},   {0, 10, 100, 10, 1},
        {50, 49, 100, 10, 49}, {50, 55, 100, 10, 50}, {0, 99, 100, 10, 90},
        {95, 99, 100, 10, 90}, {3, 2, 5, 10, 0},     {0, 0, 0, 10, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ScrollTop(c.top, c.cursor, c.count, c.visible), c.expected)
            << c.top << " " << c.cursor << " " << c.count << " " << c.visible;
    }
}

TEST(MessageBoxTest, CentredAndSizedByItsWidestPartNeverPastTheScreen) {
    MessageBoxText box;
    box.title = "qVORK";
    box.lines = {"Delete 1 site(z).", ""};
    box.buttons = {"Yes", "No"};
    std::vector<int> starts;
    EXPECT_EQ(ButtonRowText(box.buttons, starts), "[ Yes ] [ No ]");
    EXPECT_EQ(starts, (std::vector<int>{0, 8}));

    const BoxPlace place = MessageBoxPlace(box, 30, 100);
    EXPECT_EQ(place.width, 17 + 8);   // the longest line, frame, padding, margin
    EXPECT_EQ(place.height, 2 + 2 + 2 + 2); // lines, rule and buttons, frame, margin
    EXPECT_EQ(place.x, (100 - place.width) / 2);
    EXPECT_EQ(place.y, (30 - place.height) / 2);

    box.lines = {std::string(300, 'x')};
    box.buttons.clear(); // a progress box
    const BoxPlace wide = MessageBoxPlace(box, 10, 40);
    EXPECT_EQ(wide.width, 40);
    EXPECT_EQ(wide.x, 0);
    EXPECT_EQ(wide.height, 1 + 2 + 2);
}

FarDialogItem Item(int type, int x1, int y1, const char *text, DWORD flags = 0) {
    FarDialogItem item;
    std::memset(&item, 0, sizeof(item));
    item.Type = type;
    item.X1 = x1;
    item.Y1 = y1;
    item.Flags = flags;
    std::strncpy(item.Data, text, sizeof(item.Data) - 1);
    return item;
}

TEST(DialogLayoutTest, CentredGroupsOfButtonsAndItemsAtTheirColumns) {
    FarDialogItem items[] = {
        Item(DI_CHECKBOX, 5, 2, "Show in Plugins Menu"),
        Item(DI_BUTTON, 0, 6, "Ok", DIF_CENTERGROUP),
        Item(DI_BUTTON, 0, 6, "Cancel", DIF_CENTERGROUP),
        Item(DI_BUTTON, 3, 7, "Alone"),
    };
    items[1].DefaultButton = 1;
    EXPECT_EQ(DialogItemLabel(items[0]), "[ ] Show in Plugins Menu");
    items[0].Selected = 1;
    EXPECT_EQ(DialogItemLabel(items[0]), "[x] Show in Plugins Menu");
    EXPECT_EQ(DialogItemLabel(items[1]), "{ Ok }");
    EXPECT_EQ(DialogItemLabel(items[2]), "[ Cancel ]");

    const std::vector<int> columns = DialogItemColumns(items, 4, 43);
    const int group = 6 + 1 + 10; // "{ Ok } [ Cancel ]"
    EXPECT_EQ(columns[0], 5);
    EXPECT_EQ(columns[1], (43 - group) / 2);
    EXPECT_EQ(columns[2], columns[1] + 7);
    EXPECT_EQ(columns[3], 3);
}

TEST(DialogLayoutTest, MaskedPositionsTakeDigitsOnly) {
    EXPECT_TRUE(MaskAllows("9", 0, '7'));
    EXPECT_TRUE(MaskAllows("9", 0, ' '));
    EXPECT_FALSE(MaskAllows("9", 0, 'x'));
    EXPECT_FALSE(MaskAllows("9", 1, '7')); // past the mask
    EXPECT_TRUE(MaskAllows("", 40, 'x'));  // no mask: any printable character
    EXPECT_FALSE(MaskAllows("", 0, '\t'));
}

TEST(ViewerTest, LinesOfTextAndOfAnythingElse) {
    EXPECT_EQ(ViewerLines("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n"),
              (std::vector<std::string>{"HTTP/1.0 200 OK", "Content-Length: 2"}));
    EXPECT_EQ(ViewerLines("a\tb\n\nlast"), (std::vector<std::string>{"a       b", "", "last"}));
    EXPECT_EQ(ViewerLines(std::string("GIF\x00\x1b\xff\r!", 8)),
              (std::vector<std::string>{"GIF....!"}));
    EXPECT_TRUE(ViewerLines("").empty());
}

// A copy killed halfway leaves none of the temporaries it holds open in its
// destination, at any depth; another copy's temporaries and the user's files
// stay, whatever their names.
TEST(SignalCleanupTest, ASignalDuringACopyRemovesItsTemporariesOnly) {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "qvork-sweep-XXXXXX").string();
    ASSERT_NE(mkdtemp(&folder[0]), nullptr);
    fs::create_directories(folder + "/site/deep");
    const char *names[] = {"/site/~qv1A2B.tmp", "/site/deep/~qvFFFF.tmp", "/keep.tmp", "/~qv12.txt",
                           "/site/page.html", "/site/~qv9999.tmp", "/site/page.html.qvork-AbC123"};
    for (const char *name : names) {
        std::ofstream(folder + name) << "x";
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (const char *open : {names[0], names[1], names[2], names[3]}) {
            std::fopen((folder + open).c_str(), "r+"); // kept open, as the copy keeps its file
        }
        SweepOnSignal(folder);
        RemoveOnSignal(folder + names[6]); // a file registered by itself
        raise(SIGTERM);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_FALSE(fs::exists(folder + names[0]));
    EXPECT_FALSE(fs::exists(folder + names[1]));
    EXPECT_FALSE(fs::exists(folder + names[6]));
    for (const char *kept : {names[2], names[3], names[4], names[5]}) {
        EXPECT_TRUE(fs::exists(folder + kept)) << kept;
    }
    fs::remove_all(folder);
}

// A signal that ends the process waits for a file being rewritten in place,
// whichever thread it reaches.
TEST(SignalCleanupTest, ASignalLetsARewriteInPlaceFinish) {
    namespace fs = std::filesystem;
    const std::string file = (fs::temp_directory_path() / "qvork-unbroken-").string() +
                             std::to_string(getpid());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ReadyUnbrokenWrites();
        std::atomic<bool> writing{false};
        std::thread writer([&] {
            const UnbrokenWrite unbroken;
            writing = true;
            usleep(300000);
            std::ofstream(file) << "whole";
        });
        while (!writing) {
            usleep(1000);
        }
        kill(getpid(), SIGTERM);
        usleep(2000000);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    std::string text;
    std::ifstream(file) >> text;
    EXPECT_EQ(text, "whole");
    fs::remove(file);
}

} // namespace
} // namespace qvork_host

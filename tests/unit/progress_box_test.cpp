// The progress box: bar arithmetic (the exact quotient on a scale of 50 over
// 49 cells), the name line cut to the box, totals raised by extra steps and
// kept between runs, and quiet runs that touch nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ostream>
#include <string>

#include "host/plugin_state.h"
#include "host/progress_box.h"
#include "recording_host.h"

namespace qvork_test {
namespace {

const char kFull = static_cast<char>(219);
const char kLight = static_cast<char>(176);

// Full cells of a bar line, or -1 when it is not 49 cells of full blocks
// followed by light shades.
int FullCells(const std::string &bar) {
    if (bar.size() != 49) return -1;
    const size_t full = bar.find_first_not_of(kFull);
    const size_t cells = full == std::string::npos ? 49 : full;
    if (bar.find_first_not_of(kLight, cells) != std::string::npos) return -1;
    return static_cast<int>(cells);
}

int FullCells(const ProgressBox &box) {
    if (box.Bar[49] != 0) return -1;
    return FullCells(std::string(box.Bar, 49));
}

// Names whose every character tells its position.
std::string PatternName(size_t length) {
    std::string name;
    for (size_t i = 0; i < length; ++i) name += static_cast<char>('!' + i % 90);
    return name;
}

class ProgressBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        State.Info = host.StartupInfo();
        std::memset(&box, 0x5A, sizeof box); // ProgressInit must set what matters
        ProgressInit(&box);
    }
    void TearDown() override { std::memset(&State.Info, 0, sizeof State.Info); }

    // The bar of the last box drawn.
    std::string LastBar() const {
        return host.messages.empty() || host.messages.back().items.size() < 4
                   ? std::string("<no box>")
                   : host.messages.back().items[3];
    }
    std::string LastNameLine() const {
        return host.messages.empty() || host.messages.back().items.size() < 2
                   ? std::string("<no box>")
                   : host.messages.back().items[1];
    }

    RecordingHost host;
    ProgressBox box;
};

TEST_F(ProgressBoxTest, InitialStateIsAnEmptyBarTitledVork) {
    EXPECT_EQ(box.Done, 0);
    EXPECT_EQ(box.Total, 0);
    EXPECT_STREQ(box.Title, "VORK");
    EXPECT_EQ(FullCells(box), 0);
    EXPECT_EQ(box.NameLine[49], 0);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(ProgressBoxTest, RunSavesWholeScreenDrawsOneBoxPerStepAndRestores) {
    ProgressBegin(&box, "reading site", 2, 0);
    ASSERT_EQ(host.savedScreens.size(), 1u);
    EXPECT_EQ(host.savedScreens[0].x1, 0);
    EXPECT_EQ(host.savedScreens[0].y1, 0);
    EXPECT_EQ(host.savedScreens[0].x2, -1);
    EXPECT_EQ(host.savedScreens[0].y2, -1);
    EXPECT_TRUE(host.messages.empty()) << "Begin draws nothing";

    ProgressStep(&box, "a/b.html", 1);
    ProgressStep(&box, "c.gif", 1);
    ProgressEnd(&box);

    ASSERT_EQ(host.messages.size(), 2u);
    for (const MessageCall &call : host.messages) {
        SCOPED_TRACE(Describe(call));
        EXPECT_EQ(call.pluginNumber, 0);
        EXPECT_EQ(call.flags, 0u);
        EXPECT_EQ(call.helpTopic, std::optional<std::string>(""));
        EXPECT_EQ(call.itemCount, 4);
        EXPECT_EQ(call.buttonCount, 0);
    }
    EXPECT_EQ(host.messages[0].items,
              (std::vector<std::string>{"reading site", "a/b.html", "", std::string(25, kFull) +
                                                                             std::string(24, kLight)}));
    EXPECT_EQ(host.messages[1].items,
              (std::vector<std::string>{"reading site", "c.gif", "", std::string(49, kFull)}));
    EXPECT_EQ(host.restoredScreens, std::vector<HANDLE>{host.savedScreens[0].handle});
    EXPECT_EQ(host.ScreenPairingProblem(), "");
}

// ---- Bar arithmetic --------------------------------------------------------

struct BarCase {
    int total;
    int steps;     // ProgressStep calls
    int stepCount; // count passed to each
    int fullCells;
};

void PrintTo(const BarCase &bar, std::ostream *out) {
    *out << bar.steps << " steps of " << bar.stepCount << " with total " << bar.total;
}

const BarCase kBarCases[] = {
    {3, 1, 1, 16},  {3, 2, 1, 33},   {3, 3, 1, 49},
    // 29/50*50 in double precision is 28.999...: the bar must not fall short.
    {50, 29, 1, 29}, {50, 1, 29, 29}, {100, 1, 58, 29}, {50, 1, 1, 1},
    // The scale is 50 over 49 cells: 49 and 50 of 50 are both a full bar.
    {50, 49, 1, 49}, {50, 50, 1, 49}, {100, 1, 97, 48}, {100, 1, 98, 49},
    {100, 1, 1, 0},  {7, 3, 1, 21},   {49, 1, 1, 1},
    // Done * 50 does not fit 32 bits.
    {100000000, 1, 60000000, 30},     {INT_MAX, 1, INT_MAX, 49}, {INT_MAX, 1, INT_MAX / 2, 24},
};

class ProgressBarTest : public ProgressBoxTest, public ::testing::WithParamInterface<BarCase> {};

TEST_P(ProgressBarTest, FullCellsAreTheExactQuotientCappedAt49) {
    const BarCase &bar = GetParam();
    ProgressBegin(&box, "t", bar.total, 0);
    for (int i = 0; i < bar.steps; ++i) ProgressStep(&box, "x", bar.stepCount);
    EXPECT_EQ(FullCells(LastBar()), bar.fullCells);
    EXPECT_EQ(FullCells(box), bar.fullCells);
    EXPECT_EQ(static_cast<int>(host.messages.size()), bar.steps);
    ProgressEnd(&box);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressBarTest, ::testing::ValuesIn(kBarCases));

TEST_F(ProgressBoxTest, EveryStepOfSmallTotalsMatchesTheIntegerQuotient) {
    for (int total = 1; total <= 100; ++total) {
        ProgressBegin(&box, "t", total, 0);
        for (int done = 1; done <= total; ++done) {
            ProgressStep(&box, nullptr, 1);
            const int expected = std::min(done * 50 / total, 49);
            ASSERT_EQ(FullCells(box), expected) << done << " of " << total;
        }
        ProgressEnd(&box);
    }
}

// ---- Name line ---------------------------------------------------------------

TEST_F(ProgressBoxTest, NameLineShowsUpTo49CharactersElseDotsAndTheLast43) {
    const size_t lengths[] = {0, 1, 48, 49, 50, 51, 133, 1000};
    ProgressBegin(&box, "t", 10, 0);
    for (size_t length : lengths) {
        SCOPED_TRACE("name of " + std::to_string(length));
        const std::string name = PatternName(length);
        ProgressStep(&box, name.c_str(), 0);
        const std::string expected = length <= 49 ? name : "..." + name.substr(length - 43);
        EXPECT_EQ(LastNameLine(), expected);
        EXPECT_EQ(std::string(box.NameLine), expected);
        EXPECT_EQ(box.NameLine[49], 0);
    }
    ProgressEnd(&box);
}

TEST_F(ProgressBoxTest, NullNameRedrawsWithThePreviousLine) {
    ProgressBegin(&box, "t", 3, 0);
    ProgressStep(&box, "first.html", 1);
    ProgressStep(&box, nullptr, 1);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1].items[1], "first.html");
    EXPECT_EQ(FullCells(host.messages[1].items[3]), 33);
    ProgressEnd(&box);
}

// ---- Totals and titles across runs -------------------------------------------

TEST_F(ProgressBoxTest, StepsBeyondTheTotalRaiseIt) {
    ProgressBegin(&box, "t", 2, 0);
    ProgressStep(&box, "a", 1);
    ProgressStep(&box, "b", 1);
    EXPECT_EQ(box.Total, 2);
    ProgressStep(&box, "c", 1);
    EXPECT_EQ(box.Done, 3);
    EXPECT_EQ(box.Total, 3);
    EXPECT_EQ(FullCells(LastBar()), 49);
    ProgressEnd(&box);
}

TEST_F(ProgressBoxTest, TotalZeroBeforeAnyRunIsRaisedByTheFirstStep) {
    ProgressBegin(&box, "t", 0, 0);
    EXPECT_EQ(box.Total, 0);
    ProgressStep(&box, "a", 1);
    EXPECT_EQ(box.Total, 1);
    EXPECT_EQ(FullCells(LastBar()), 49);
    ProgressEnd(&box);
}

TEST_F(ProgressBoxTest, StepOfZeroWithTotalZeroDrawsWithTheBarUnchanged) {
    ProgressBegin(&box, "t", 0, 0);
    ProgressStep(&box, "a", 0);
    EXPECT_EQ(box.Total, 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(FullCells(LastBar()), 0);
    ProgressEnd(&box);
}

TEST_F(ProgressBoxTest, RunBegunWithTotalZeroTakesUpThePreviousTotal) {
    ProgressBegin(&box, "first", 5, 0);
    ProgressStep(&box, "a", 1);
    ProgressStep(&box, "b", 1);
    ProgressEnd(&box);

    ProgressBegin(&box, nullptr, 0, 0);
    EXPECT_EQ(box.Total, 5);
    EXPECT_EQ(box.Done, 0);
    EXPECT_STREQ(box.Title, "first") << "a null title keeps the previous one";
    ProgressStep(&box, "c", 1);
    EXPECT_EQ(FullCells(LastBar()), 10);
    EXPECT_EQ(host.messages.back().items[0], "first");
    ProgressEnd(&box);
}

TEST_F(ProgressBoxTest, BarAndNameLineOutliveTheRunUntilTheNextStep) {
    ProgressBegin(&box, "t", 2, 0);
    ProgressStep(&box, "kept", 2);
    ProgressEnd(&box);
    ProgressBegin(&box, "t", 10, 0);
    EXPECT_EQ(FullCells(box), 49);
    EXPECT_STREQ(box.NameLine, "kept");
    ProgressEnd(&box);
}

TEST_F(ProgressBoxTest, NullTitleOnTheFirstRunKeepsVork) {
    ProgressBegin(&box, nullptr, 1, 0);
    ProgressStep(&box, "a", 1);
    EXPECT_EQ(host.messages.back().items[0], "VORK");
    ProgressEnd(&box);
}

// ---- Quiet runs ------------------------------------------------------------------

class QuietRunTest : public ProgressBoxTest, public ::testing::WithParamInterface<int> {};

TEST_P(QuietRunTest, DrawsNothingCountsNothingAndEndsLoud) {
    ProgressBegin(&box, "reading cache", 3, GetParam());
    ProgressStep(&box, "a", 1);
    ProgressStep(&box, "b", 1);
    EXPECT_EQ(box.Done, 0);
    ProgressEnd(&box);
    EXPECT_TRUE(host.events.empty()) << "no Message, SaveScreen or RestoreScreen";
    EXPECT_EQ(box.Quiet, 0);

    ProgressBegin(&box, "reading cache", 3, 0);
    ProgressStep(&box, "c", 1);
    ProgressEnd(&box);
    EXPECT_EQ(host.messages.size(), 1u) << "the next run draws again";
    EXPECT_EQ(host.ScreenPairingProblem(), "");
}

INSTANTIATE_TEST_SUITE_P(OpModeBits, QuietRunTest, ::testing::Values(1, 2, 3));

} // namespace
} // namespace qvork_test

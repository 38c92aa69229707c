// The navigation stack (push, pop, top, clear, and NavStackNext with its one
// shared cursor) and BuildCurDir, which joins the names from the bottom of
// the stack to its top into the 768-byte directory text.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "browse/nav_stack.h"
#include "host/plugin_state.h"

namespace qvork_test {
namespace {

class NavStackTest : public ::testing::Test {
  protected:
    void TearDown() override {
        Empty(&State.NavStack);
        Empty(&other);
        State.CurDirText[0] = 0;
    }

    static void Empty(NavStack *stack) {
        while (stack->top != nullptr) PopNavStack(stack);
    }

    // A node named `name` (none for nullptr), kept alive by the fixture.
    SiteNode *Node(const char *name) {
        names.emplace_back(name ? name : "");
        SiteNode node{};
        node.name = name ? &names.back()[0] : nullptr;
        nodes.push_back(node);
        return &nodes.back();
    }

    std::deque<std::string> names;
    std::deque<SiteNode> nodes;
    NavStack other{};
};

TEST_F(NavStackTest, PushPopAndTopAreLastInFirstOut) {
    NavStack &stack = State.NavStack;
    SiteNode *a = Node("a");
    SiteNode *b = Node("b");
    EXPECT_EQ(TopNavStack(&stack), nullptr);
    EXPECT_EQ(PopNavStack(&stack), nullptr) << "nothing happens on an empty stack";

    PushNavStack(&stack, a);
    PushNavStack(&stack, b);
    PushNavStack(&stack, nullptr);
    EXPECT_EQ(TopNavStack(&stack), nullptr) << "an entry may hold none";
    EXPECT_NE(stack.top, nullptr);
    EXPECT_EQ(PopNavStack(&stack), nullptr);
    EXPECT_EQ(TopNavStack(&stack), b);
    EXPECT_EQ(PopNavStack(&stack), b);
    EXPECT_EQ(TopNavStack(&stack), a);
    PushNavStack(&stack, a); // the same node twice
    EXPECT_EQ(PopNavStack(&stack), a);
    EXPECT_EQ(PopNavStack(&stack), a);
    EXPECT_EQ(stack.top, nullptr);
    EXPECT_EQ(PopNavStack(&stack), nullptr);
}

TEST_F(NavStackTest, ClearStopsAfterPoppingAnEntryHoldingNone) {
    NavStack &stack = State.NavStack;
    ClearNavStack(&stack); // empty: nothing to do
    EXPECT_EQ(stack.top, nullptr);

    SiteNode *a = Node("a");
    PushNavStack(&stack, a);
    PushNavStack(&stack, nullptr);
    PushNavStack(&stack, Node("b"));
    PushNavStack(&stack, Node("c"));
    ClearNavStack(&stack);
    EXPECT_EQ(TopNavStack(&stack), a) << "popped c, b and the entry holding none";
    ClearNavStack(&stack);
    EXPECT_EQ(stack.top, nullptr);
}

TEST_F(NavStackTest, NextWalksFromTopToBottomWithOneSharedCursor) {
    NavStack &stack = State.NavStack;
    SiteNode *a = Node("a");
    SiteNode *b = Node("b");
    SiteNode *c = Node("c");
    PushNavStack(&stack, a);
    PushNavStack(&stack, b);
    PushNavStack(&stack, c);
    SiteNode *x = Node("x");
    PushNavStack(&other, x);

    EXPECT_EQ(NavStackNext(&stack, 0), c);
    EXPECT_EQ(NavStackNext(&other, 1), b) << "the stack argument is not read when going on";
    EXPECT_EQ(NavStackNext(nullptr, 7), a) << "any non-zero flag goes on";
    EXPECT_EQ(NavStackNext(&stack, 1), nullptr);
    EXPECT_EQ(NavStackNext(&stack, 1), nullptr) << "stays at the end";
    EXPECT_EQ(NavStackNext(&other, 0), x) << "flag 0 starts on the given stack";
    EXPECT_EQ(NavStackNext(&stack, 1), nullptr);
    EXPECT_EQ(NavStackNext(&stack, 0), c) << "and again from the top";

    NavStack empty{};
    EXPECT_EQ(NavStackNext(&empty, 0), nullptr);
    EXPECT_EQ(NavStackNext(&stack, 1), nullptr) << "the cursor was reset by the empty walk";
}

TEST_F(NavStackTest, EntryHoldingNoneEndsAWalk) {
    NavStack &stack = State.NavStack;
    SiteNode *a = Node("a");
    SiteNode *b = Node("b");
    PushNavStack(&stack, a);
    PushNavStack(&stack, nullptr);
    PushNavStack(&stack, b);
    EXPECT_EQ(NavStackNext(&stack, 0), b);
    EXPECT_EQ(NavStackNext(&stack, 1), nullptr);
}

TEST_F(NavStackTest, PoppingTheCursorsEntryLeavesNoDanglingCursor) {
    NavStack &stack = State.NavStack;
    PushNavStack(&stack, Node("a"));
    PushNavStack(&stack, Node("b"));
    ASSERT_NE(NavStackNext(&stack, 0), nullptr); // the cursor is now on a's entry
    PopNavStack(&stack);
    PopNavStack(&stack); // a's entry is released
    EXPECT_EQ(NavStackNext(&stack, 1), nullptr);
}

// ---- BuildCurDir ------------------------------------------------------------------------

struct CurDirCase {
    const char *label;
    std::vector<const char *> stack; // bottom first; nullptr: a node without a name
    std::string text;
};

class BuildCurDirTest : public NavStackTest, public ::testing::WithParamInterface<CurDirCase> {};

TEST_P(BuildCurDirTest, JoinsTheNamesFromBottomToTop) {
    std::memset(State.CurDirText, 'z', sizeof State.CurDirText - 1); // stale text
    State.CurDirText[sizeof State.CurDirText - 1] = 0;
    for (const char *name : GetParam().stack) PushNavStack(&State.NavStack, Node(name));
    NavEntry *const top = State.NavStack.top;
    BuildCurDir();
    EXPECT_EQ(std::string(State.CurDirText), GetParam().text);
    EXPECT_EQ(State.NavStack.top, top) << "the stack is left as it was";
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, BuildCurDirTest,
    ::testing::Values(CurDirCase{"EmptyStack", {}, ""},
                      CurDirCase{"SiteAlone", {"s"}, "s"},
                      CurDirCase{"OneFolder", {"s", "a"}, "s/a"},
                      CurDirCase{"TwoFolders", {"s", "a", "b"}, "s/a/b"},
                      CurDirCase{"NamesWithSeparators", {"www.example.com:80", "a b", "c\\d"},
                                 "www.example.com:80/a b/c\\d"},
                      CurDirCase{"UnnamedNodeInTheMiddle", {"s", nullptr, "b"}, "s/b"},
                      CurDirCase{"UnnamedNodeOnTop", {"s", "a", nullptr}, "s/a"},
                      CurDirCase{"OnlyUnnamedNodes", {nullptr, nullptr}, ""}),
    [](const auto &info) { return std::string(info.param.label); });

TEST_F(NavStackTest, BuildCurDirStopsAtAnEntryHoldingNone) {
    PushNavStack(&State.NavStack, Node("stale"));
    PushNavStack(&State.NavStack, nullptr);
    PushNavStack(&State.NavStack, Node("s"));
    PushNavStack(&State.NavStack, Node("a"));
    BuildCurDir();
    EXPECT_STREQ(State.CurDirText, "s/a");
}

std::string Pattern(size_t length, char first) {
    std::string text(length, first);
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>(first + i % 20);
    return text;
}

// The text holds 767 characters; a longer path is cut there, and nothing
// behind the buffer (the stack record follows it) is touched.
TEST_F(NavStackTest, LongDirectoryTextIsCutAt767Characters) {
    struct {
        std::vector<size_t> lengths; // name lengths, bottom first
    } const cases[] = {
        {{767}},
        {{766}},
        {{768}},
        {{5000}},
        {{259, 255, 255}},          // 771 joined
        {{259, 255, 251}},          // exactly 767 joined
        {{200, 200, 200, 200, 200}},
    };
    for (const auto &c : cases) {
        std::string full;
        for (size_t i = 0; i < c.lengths.size(); ++i) {
            const std::string name = Pattern(c.lengths[i], static_cast<char>('A' + 2 * i));
            PushNavStack(&State.NavStack, Node(name.c_str()));
            full += (i ? "/" : "") + name;
        }
        NavEntry *const top = State.NavStack.top;
        SCOPED_TRACE("joined length " + std::to_string(full.size()));
        BuildCurDir();
        EXPECT_EQ(State.NavStack.top, top);
        const std::string text(State.CurDirText);
        EXPECT_EQ(text, full.substr(0, 767));
        Empty(&State.NavStack);
    }
}

} // namespace
} // namespace qvork_test

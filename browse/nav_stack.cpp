// The navigation stack and the directory text (see nav_stack.h).
#include "browse/nav_stack.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct NavEntry *WalkCursor; // NavStackNext's one shared position

// A node of the bottom-to-top list BuildCurDir assembles.
struct PathPiece {
    const struct SiteNode *node;
    struct PathPiece *next;
};

// Appends `text` to CurDirText at *length, cut at the buffer's end.
void AppendCut(size_t *length, const char *text)
{
    size_t room = sizeof State.CurDirText - 1 - *length;
    size_t size = strlen(text);
    if (size > room)
        size = room;
    memcpy(State.CurDirText + *length, text, size);
    *length += size;
    State.CurDirText[*length] = 0;
}

} // namespace

void PushNavStack(struct NavStack *stack, struct SiteNode *node)
{
    struct NavEntry *entry = (struct NavEntry *)calloc(1, sizeof *entry);
    if (entry == NULL)
        return;
    entry->node = node;
    entry->below = stack->top;
    stack->top = entry;
}

struct SiteNode *PopNavStack(struct NavStack *stack)
{
    struct NavEntry *entry = stack->top;
    if (entry == NULL)
        return NULL;
    if (WalkCursor == entry)
        WalkCursor = NULL;
    struct SiteNode *node = entry->node;
    stack->top = entry->below;
    free(entry);
    return node;
}

struct SiteNode *TopNavStack(const struct NavStack *stack)
{
    return stack->top != NULL ? stack->top->node : NULL;
}

void ClearNavStack(struct NavStack *stack)
{
    while (stack->top != NULL) {
        if (PopNavStack(stack) == NULL)
            return;
    }
}

struct SiteNode *NavStackNext(struct NavStack *stack, int continueWalk)
{
    if (continueWalk == 0)
        WalkCursor = stack->top;
    if (WalkCursor == NULL)
        return NULL;
    struct SiteNode *node = WalkCursor->node;
    WalkCursor = WalkCursor->below;
    return node;
}

void BuildCurDir(void)
{
    struct PathPiece *pieces = NULL;
    for (struct SiteNode *node = NavStackNext(&State.NavStack, 0); node != NULL;
         node = NavStackNext(&State.NavStack, 1)) {
        struct PathPiece *piece = (struct PathPiece *)malloc(sizeof *piece);
        if (piece == NULL)
            continue;
        piece->node = node;
        piece->next = pieces;
        pieces = piece;
    }
    size_t length = 0;
    State.CurDirText[0] = 0;
    while (pieces != NULL) {
        struct PathPiece *piece = pieces;
        pieces = piece->next;
        // A site opened from its file is the panel's top: its name is not shown.
        BOOL ownTop = State.OwnSiteFile != NULL && piece->node == State.TreeRoot;
        if (piece->node->name != NULL && !ownTop) {
            AppendCut(&length, piece->node->name);
            AppendCut(&length, "/");
        }
        free(piece);
    }
    if (length != 0 && State.CurDirText[length - 1] == '/')
        State.CurDirText[length - 1] = 0;
}

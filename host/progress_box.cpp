// The progress box (see progress_box.h). It draws only through the host's
// Message, SaveScreen and RestoreScreen, and needs no allocation.
#include "host/progress_box.h"

#include <string.h>

#include "host/messages.h"

namespace {

void FillBar(struct ProgressBox *box, int doneCells)
{
    for (int i = 0; i < PROGRESS_CELLS; i++)
        box->Bar[i] = i < doneCells ? PROGRESS_CELL_DONE : PROGRESS_CELL_TODO;
    box->Bar[PROGRESS_CELLS] = 0;
}

void SetNameLine(struct ProgressBox *box, const char *name)
{
    size_t length = strlen(name);
    if (length <= PROGRESS_CELLS) {
        memcpy(box->NameLine, name, length + 1);
        return;
    }
    // "..." and the last 43 characters: 46 in all.
    memcpy(box->NameLine, "...", 3);
    memcpy(box->NameLine + 3, name + length - 43, 43);
    box->NameLine[46] = 0;
}

void Draw(const struct ProgressBox *box)
{
    if (State.Info.Message == NULL)
        return;
    const char *items[4] = {box->Title, box->NameLine, "", box->Bar};
    State.Info.Message(0, 0, "", items, 4, 0);
}

} // namespace

void ProgressInit(struct ProgressBox *box)
{
    box->Done = 0;
    box->Total = 0;
    box->Title = "VORK";
    FillBar(box, 0);
    box->NameLine[PROGRESS_LINE_SIZE - 1] = 0;
}

void ProgressBegin(struct ProgressBox *box, const char *title, int total, int quiet)
{
    box->Quiet = quiet;
    box->WarningsOff = 0;
    if (title != NULL)
        box->Title = title;
    if (total != 0)
        box->Total = total;
    box->Done = 0;
    if (box->Quiet == 0 && State.Info.SaveScreen != NULL)
        box->SavedScreen = State.Info.SaveScreen(0, 0, -1, -1);
}

void ProgressStep(struct ProgressBox *box, const char *name, int count)
{
    if (box->Quiet != 0)
        return;
    box->Done += count;
    if (name != NULL)
        SetNameLine(box, name);
    if (box->Done > box->Total)
        box->Total = box->Done;
    if (box->Total != 0) {
        // The exact quotient, in 64 bits so Done * 50 cannot overflow.
        long long cells = (long long)box->Done * 50 / box->Total;
        if (cells < 0)
            cells = 0;
        int done = cells > PROGRESS_CELLS ? PROGRESS_CELLS : (int)cells;
        // The bar is always `done` full cells, then empty ones: the two cells
        // at the boundary tell whether it already shows this count.
        if ((done > 0 && box->Bar[done - 1] != PROGRESS_CELL_DONE) ||
            (done < PROGRESS_CELLS && box->Bar[done] != PROGRESS_CELL_TODO))
            FillBar(box, done);
    }
    Draw(box);
}

void ProgressEnd(struct ProgressBox *box)
{
    if (box->Quiet == 0 && State.Info.RestoreScreen != NULL)
        State.Info.RestoreScreen(box->SavedScreen);
    box->Quiet = 0;
}

void ProgressWarning(struct ProgressBox *box, const char *text)
{
    if (!box->WarningsOff && ShowError(text) == -1)
        box->WarningsOff = 1;
}

// The progress box: a host message box without buttons, redrawn after every
// item of a long walk. Runs are Begin, any number of Step, End; never nested.
// Invariant: after a step Total >= Done, and Bar and NameLine always hold a
// terminator in their last byte.
#ifndef QVORK_HOST_PROGRESS_BOX_H
#define QVORK_HOST_PROGRESS_BOX_H

#include "host/plugin_state.h"

#define PROGRESS_CELLS 49
#define PROGRESS_CELL_DONE ((char)219) // full block in OEM code pages 437 and 866
#define PROGRESS_CELL_TODO ((char)176) // light shade

void ProgressInit(struct ProgressBox *box);
// total 0 keeps the previous run's total; title NULL keeps the previous title.
void ProgressBegin(struct ProgressBox *box, const char *title, int total, int quiet);
// name NULL keeps the name line; count is added to Done.
void ProgressStep(struct ProgressBox *box, const char *name, int count);
void ProgressEnd(struct ProgressBox *box);
// A warning box during the run. Once the user cancels one, the rest of the
// run shows none: a damaged file may hold thousands.
void ProgressWarning(struct ProgressBox *box, const char *text);

#endif

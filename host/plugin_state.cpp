// The one plug-in wide state record. It lives in static storage and so is
// zero when the library is loaded; the static constructor below then readies
// the progress box and empties the navigation stack before the host calls any
// entry point.
#include "host/plugin_state.h"

#include "browse/nav_stack.h"
#include "host/progress_box.h"

struct PluginState State;

namespace {

struct StartUp {
    StartUp()
    {
        ProgressInit(&State.Progress);
        State.NavStack.top = NULL;
    }
};

StartUp startUp;

} // namespace

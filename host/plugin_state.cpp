// The one plug-in wide state record. It lives in static storage and so is
// zero when the library is loaded; the static constructor below then readies
// the progress box and empties the navigation stack before the host calls any
// entry point.
#include "host/plugin_state.h"

#include "browse/nav_stack.h"
#include "cache/site_list.h"
#include "cache/site_tree.h"
#include "host/handed_listings.h"
#include "host/progress_box.h"

struct PluginState State;

namespace {

// Load and unload of the library. Unloading gives back whatever a host left
// open, so a host that loads the plug-in again starts from nothing.
struct StartUp {
    StartUp()
    {
        ProgressInit(&State.Progress);
        State.NavStack.top = NULL;
    }
    ~StartUp()
    {
        FreeTree(State.TreeRoot);
        ReleaseSiteList();
        FreeRetiredListings(TRUE);
        ReleaseHandedListings();
        while (State.NavStack.top != NULL)
            PopNavStack(&State.NavStack);
    }
};

StartUp startUp;

} // namespace

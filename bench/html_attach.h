// The HTML player attached to a benchmark: the installer movie in a window
// on the display, fed with the movie calls of an update run as the
// installer dialog feeds it.
#pragma once

#include <functional>
#include <string>

#include "update/dialog_link.h"

namespace bench {

// Shows `movie` (the reference installer movie) in the HTML player, waits
// for its "InitDialog", then runs `run` on a thread of its own, handing it
// the link whose movie calls reach this (the main) thread and, with
// `deliverCalls`, the movie; without, they are dropped there, so that a
// run tells what the calls themselves cost. Returns false, having run
// nothing, when there is no display or the build has no HTML player.
bool RunWithHtmlPlayer(const std::string& movie, bool deliverCalls,
                       const std::function<void(update::DialogLink&)>& run);

}  // namespace bench

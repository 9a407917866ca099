// The tools' ending on Ctrl-C or SIGTERM: the signal only sets a flag, which
// the tool's loop reads and then ends in order.
#pragma once

namespace capture {

void installStopSignals();
bool stopRequested();

}  // namespace capture

// ozr-capture: the library's messages.
//
// Warnings go to standard error at once, informational messages only when
// asked for (standard output carries the frame lines). Errors are held until
// the tool knows whether the call that logged them failed: then they become
// part of the failure message, otherwise they are printed as they were.
#pragma once

#include <string>

namespace capture::log {

void install(bool verbose);
// Prints the errors held so far as "[ERROR] message" lines.
void flush();
// Takes the errors held so far, joined by "; " (empty when there were none).
std::string takeErrors();
// While muted, messages are dropped (for queries expected to fail).
void setMuted(bool muted);

}  // namespace capture::log

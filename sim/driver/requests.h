// What the V4L2 core knows of each request a node serves, before the driver
// sees it: whether the node serves it at all (others fail with ENOTTY),
// which output fields are zeroed for the driver, and whether it needs the
// file handle's priority.
#pragma once

#include <cstddef>

#include "filetree.h"

namespace ozrsim {

struct RequestInfo {
    unsigned long request;
    // The argument is zeroed from this byte offset to its end before the
    // request is handled (the application's input ends there); NO_CLEAR
    // leaves it as passed.
    size_t clearFrom;
    // Refused with EBUSY while another file handle holds a higher priority
    // (video node only; sub-devices have no priorities).
    bool needsPriority;

    static constexpr size_t NO_CLEAR = ~size_t{0};
};

// The entry of a request on a node, or null when the node does not serve it.
const RequestInfo* requestInfo(NodeKind kind, unsigned long request);

}  // namespace ozrsim

// Small helpers around the HDF5 C API shared by the recording reader and
// writer: owned identifiers and HDF5's error stack turned into messages.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <string>
#include <utility>

namespace ozrrec::h5 {

// An HDF5 identifier closed with `close` when it goes out of scope.
template <herr_t (*close)(hid_t)>
class Id {
public:
    Id() = default;
    explicit Id(hid_t id) : id_(id) {}
    ~Id() { reset(); }
    Id(Id&& o) noexcept : id_(std::exchange(o.id_, H5I_INVALID_HID)) {}
    Id& operator=(Id&& o) noexcept {
        if (this != &o) {
            reset();
            id_ = std::exchange(o.id_, H5I_INVALID_HID);
        }
        return *this;
    }
    Id(const Id&) = delete;
    Id& operator=(const Id&) = delete;

    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    hid_t release() { return std::exchange(id_, H5I_INVALID_HID); }
    void reset() {
        if (id_ >= 0) close(id_);
        id_ = H5I_INVALID_HID;
    }

private:
    hid_t id_ = H5I_INVALID_HID;
};

using File = Id<H5Fclose>;
using Dataset = Id<H5Dclose>;
using Attribute = Id<H5Aclose>;
using Space = Id<H5Sclose>;
using Type = Id<H5Tclose>;
using Plist = Id<H5Pclose>;

// Turns HDF5's automatic error printing off for the calling thread (the
// error stack is per thread) and clears the stack.
void quiet();

// The most specific message on the calling thread's error stack (empty when
// there is none), and clears the stack.
std::string takeError();

// `what`, followed by HDF5's own reason when it gave one.
std::string failure(const std::string& what);

// Bounds the calling process's address space to what it maps now plus
// `headroom` bytes (never above a limit already set), so that a damaged file
// on which the HDF5 library keeps allocating makes malloc fail instead of
// taking the machine's memory. For a process that only reads a file to check
// it; false when the limit could not be set.
bool limitMemory(uint64_t headroom);

}  // namespace ozrrec::h5

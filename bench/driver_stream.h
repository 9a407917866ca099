// The virtual driver streamed directly over V4L2, as the reference the
// camera and pipeline benchmarks measure themselves against: memory-mapped
// buffers, one trigger per frame, every image dequeued and queued again.
#pragma once

#include <cstddef>
#include <optional>

class DriverStream {
public:
    // Opens the two nodes, selects the driver's acquisition mode when given,
    // maps `buffers` buffers and starts streaming; ok() tells if all of it
    // worked.
    DriverStream(const char* videoPath, const char* subdevPath, unsigned buffers,
                 std::optional<int> acquisitionMode = std::nullopt);
    ~DriverStream();
    DriverStream(const DriverStream&) = delete;
    DriverStream& operator=(const DriverStream&) = delete;

    bool ok() const { return ok_; }

    // Triggers one frame and dequeues (and queues again) its `images`
    // buffers; false when one does not come.
    bool frame(unsigned images);

private:
    static constexpr unsigned MAX_BUFFERS = 16;
    int video_ = -1;
    int subdev_ = -1;
    unsigned buffers_ = 0;
    void* maps_[MAX_BUFFERS] = {};
    size_t lengths_[MAX_BUFFERS] = {};
    bool streaming_ = false;
    bool ok_ = false;
};

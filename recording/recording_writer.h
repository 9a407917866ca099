// Writes a recording (layout in recording_format.h) frame by frame.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hdf5_util.h"
#include "recording_format.h"

namespace ozrrec {

class RecordingWriter {
public:
    // Creates (or replaces) `path` with the attributes of `info` and empty
    // datasets. Null with a message in `error` on failure.
    static std::unique_ptr<RecordingWriter> create(const std::string& path,
                                                   const RecordingInfo& info, std::string& error);
    ~RecordingWriter();

    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Appends one frame (its `dcs` must hold info().frameValues() values)
    // and flushes the file. False with a message in `error` on failure; the
    // frames written before stay readable.
    bool append(const RecordedFrame& frame, std::string& error);

    // Flushes and closes the file; later appends fail. False on failure.
    bool close(std::string& error);

    const RecordingInfo& info() const { return info_; }
    uint64_t frameCount() const { return frames_; }

private:
    RecordingWriter() = default;

    bool extendAndWrite(const h5::Dataset& set, int rank, hid_t memType, const void* data,
                        std::string& error);

    RecordingInfo info_;
    std::string path_;
    h5::File file_;
    h5::Dataset dcs_, frameNumber_, timestamp_, temperature_;
    uint64_t frames_ = 0;
};

}  // namespace ozrrec

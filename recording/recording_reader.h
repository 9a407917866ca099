// Opens a recording (layout in recording_format.h), checks its structure and
// reads its frames. Anything that is not a complete recording of this format
// (not HDF5, missing or mistyped attributes and datasets, shapes that do not
// match the attributes, sizes out of bounds) is refused with a message before
// a single image is read.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hdf5_util.h"
#include "recording_format.h"

namespace ozrrec {

class RecordingReader {
public:
    // Null with a message in `error` when the file is refused.
    static std::unique_ptr<RecordingReader> open(const std::string& path, std::string& error);
    // The same for a whole file held in memory (`size` bytes at `data`,
    // copied); `name` stands for the file in messages.
    static std::unique_ptr<RecordingReader> openImage(const void* data, size_t size,
                                                      const std::string& name, std::string& error);
    ~RecordingReader();

    // Opens the recording and reads every frame in a child process: the
    // HDF5 library itself fails hard on some damaged files (it divides by
    // zero on a chunked dataset whose layout claims no dimensions), which the checks above
    // cannot see before HDF5 parses the dataset. False with a message when
    // the file is refused, or when reading it ended the child, took more
    // than a bounded amount of memory, or made no progress for half a minute
    // (the child never outlives the caller). For callers
    // about to trust a file from elsewhere; forks, so best called before
    // threads are started.
    static bool checkInChild(const std::string& path, std::string& error);

    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    const RecordingInfo& info() const { return info_; }
    const std::string& path() const { return path_; }
    // Complete frames: the shortest length of the four datasets.
    uint64_t frameCount() const { return frames_; }

    // Reads frame `index`. False with a message in `error` when it cannot be
    // read or holds DCS values above MAX_DCS_VALUE. Safe to call from any
    // thread.
    bool read(uint64_t index, RecordedFrame& frame, std::string& error);
    // The temperatures of all frameCount() frames, without their images.
    bool readTemperatures(std::vector<float>& celsius, std::string& error);

private:
    RecordingReader() = default;

    // `name` is what HDF5 opens, `path` what messages show.
    static std::unique_ptr<RecordingReader> openFile(const std::string& name,
                                                     const std::string& path, hid_t access,
                                                     std::string& error);
    bool readAttributes(std::string& error);
    bool openDatasets(std::string& error);

    std::string path_;
    RecordingInfo info_;
    uint64_t frames_ = 0;
    std::mutex mu_;  // one read at a time through the identifiers below
    h5::File file_;
    h5::Dataset dcs_, frameNumber_, timestamp_, temperature_;
};

}  // namespace ozrrec

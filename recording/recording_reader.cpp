#include "recording_reader.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>

namespace ozrrec {

namespace {

constexpr size_t MAX_STRING = 256;
constexpr hsize_t MAX_SERIES_CHUNK = hsize_t{1} << 20;

// The check of a recording in a child process: the memory it may take beyond
// what it holds at the fork (a frame is read at a time, so a sound file needs
// a small part of it; a damaged one can make the HDF5 library allocate
// without end), and the time the HDF5 library may take to open the file or
// read one frame before the file is held to make it spin.
constexpr uint64_t CHECK_MEMORY = uint64_t{1} << 30;
constexpr int CHECK_STALL_SECONDS = 30;

// Element type a dataset must have.
struct Expected {
    H5T_class_t typeClass;
    size_t size;
    bool isUnsigned;  // integers only
    const char* typeName;
};

class Checker {
public:
    Checker(hid_t file, std::string path) : file_(file), path_(std::move(path)) {}

    std::string refuse(const std::string& what) const { return "recording " + path_ + ": " + what; }

    // An attribute of the root group: present, with the given class.
    bool openAttr(const char* name, H5T_class_t cls, const char* kind, h5::Attribute& attr,
                  h5::Type& type, std::string& error) const {
        if (H5Aexists(file_, name) <= 0) {
            error = refuse(std::string("missing attribute \"") + name + "\"");
            return false;
        }
        attr = h5::Attribute(H5Aopen(file_, name, H5P_DEFAULT));
        type = h5::Type(attr.valid() ? H5Aget_type(attr.get()) : H5I_INVALID_HID);
        if (!type.valid()) {
            error = h5::failure(refuse(std::string("cannot read attribute \"") + name + "\""));
            return false;
        }
        if (H5Tget_class(type.get()) != cls) {
            error = refuse(std::string("attribute \"") + name + "\" is not " + kind);
            return false;
        }
        return true;
    }

    // `count` integers (1: a scalar), each within [lo, hi].
    bool readInts(const char* name, int64_t lo, int64_t hi, int64_t* out, hsize_t count,
                  std::string& error) const {
        h5::Attribute attr;
        h5::Type type;
        if (!openAttr(name, H5T_INTEGER, "an integer", attr, type, error)) return false;
        if (H5Tget_size(type.get()) > 8) {
            error = refuse(std::string("attribute \"") + name + "\" is wider than 64 bits");
            return false;
        }
        h5::Space space(H5Aget_space(attr.get()));
        const H5S_class_t cls = H5Sget_simple_extent_type(space.get());
        bool shapeOk = false;
        if (count == 1) {
            shapeOk = cls == H5S_SCALAR;
        } else if (cls == H5S_SIMPLE && H5Sget_simple_extent_ndims(space.get()) == 1) {
            hsize_t n = 0;
            H5Sget_simple_extent_dims(space.get(), &n, nullptr);
            shapeOk = n == count;
        }
        if (!shapeOk) {
            error =
                refuse(std::string("attribute \"") + name + "\" must hold " +
                       (count == 1 ? std::string("one value") : std::to_string(count) + " values"));
            return false;
        }
        if (H5Aread(attr.get(), H5T_NATIVE_INT64, out) < 0) {
            error = h5::failure(refuse(std::string("cannot read attribute \"") + name + "\""));
            return false;
        }
        for (hsize_t i = 0; i < count; ++i) {
            if (out[i] < lo || out[i] > hi) {
                error =
                    refuse(std::string("attribute \"") + name + "\" = " + std::to_string(out[i]) +
                           " out of range " + std::to_string(lo) + ".." + std::to_string(hi));
                return false;
            }
        }
        return true;
    }

    bool readInt32(const char* name, int64_t lo, int64_t hi, int32_t& out,
                   std::string& error) const {
        int64_t v = 0;
        if (!readInts(name, lo, hi, &v, 1, error)) return false;
        out = static_cast<int32_t>(v);
        return true;
    }

    bool readUint32(const char* name, int64_t lo, int64_t hi, uint32_t& out,
                    std::string& error) const {
        int64_t v = 0;
        if (!readInts(name, lo, hi, &v, 1, error)) return false;
        out = static_cast<uint32_t>(v);
        return true;
    }

    bool readString(const char* name, std::string& out, std::string& error) const {
        h5::Attribute attr;
        h5::Type type;
        if (!openAttr(name, H5T_STRING, "a string", attr, type, error)) return false;
        h5::Space space(H5Aget_space(attr.get()));
        if (H5Sget_simple_extent_type(space.get()) != H5S_SCALAR) {
            error = refuse(std::string("attribute \"") + name + "\" is not a single string");
            return false;
        }
        // Variable-length strings live in the file's global heap, whose
        // damage HDF5 does not survive: fixed-length ones only.
        const htri_t variable = H5Tis_variable_str(type.get());
        const size_t size = H5Tget_size(type.get());
        if (variable != 0 || size == 0 || size > MAX_STRING) {
            error = refuse(std::string("attribute \"") + name +
                           "\" is not a fixed-length string of at most " +
                           std::to_string(MAX_STRING) + " bytes");
            return false;
        }
        h5::Type mem(H5Tcopy(H5T_C_S1));
        std::string buffer(size + 1, '\0');
        const bool ok = mem.valid() && H5Tset_size(mem.get(), size + 1) >= 0 &&
                        H5Aread(attr.get(), mem.get(), buffer.data()) >= 0;
        if (ok) out = std::string(buffer.c_str());
        if (!ok) {
            error = h5::failure(refuse(std::string("cannot read attribute \"") + name + "\""));
            return false;
        }
        return true;
    }

    // A dataset of the given element type and rank whose dimensions after
    // the first are `inner`; stored plainly (chunked as `chunk` when given,
    // or contiguous), without filters or external files.
    bool openDataset(const char* name, const Expected& expected, int rank, const hsize_t* inner,
                     const hsize_t* chunk, h5::Dataset& set, hsize_t& length,
                     std::string& error) const {
        const std::string quoted = std::string("\"") + name + "\"";
        if (H5Lexists(file_, name, H5P_DEFAULT) <= 0) {
            error = refuse("missing dataset " + quoted);
            return false;
        }
        set = h5::Dataset(H5Dopen2(file_, name, H5P_DEFAULT));
        if (!set.valid()) {
            error = h5::failure(refuse(quoted + " is not a readable dataset"));
            return false;
        }
        h5::Type type(H5Dget_type(set.get()));
        const bool typeOk = type.valid() && H5Tget_class(type.get()) == expected.typeClass &&
                            H5Tget_size(type.get()) == expected.size &&
                            (expected.typeClass != H5T_INTEGER ||
                             (H5Tget_sign(type.get()) == H5T_SGN_NONE) == expected.isUnsigned);
        if (!typeOk) {
            error = refuse(quoted + " is not of type " + expected.typeName);
            return false;
        }
        h5::Space space(H5Dget_space(set.get()));
        if (H5Sget_simple_extent_type(space.get()) != H5S_SIMPLE ||
            H5Sget_simple_extent_ndims(space.get()) != rank) {
            error = refuse(quoted + " must have " + std::to_string(rank) + " dimension" +
                           (rank == 1 ? "" : "s"));
            return false;
        }
        hsize_t dims[4] = {};
        H5Sget_simple_extent_dims(space.get(), dims, nullptr);
        for (int i = 1; i < rank; ++i) {
            if (dims[i] != inner[i - 1]) {
                error = refuse(quoted + " has images of " + std::to_string(dims[1]) + "x" +
                               std::to_string(dims[2]) + "x" + std::to_string(dims[3]) +
                               " values, the attributes say " + std::to_string(inner[0]) + "x" +
                               std::to_string(inner[1]) + "x" + std::to_string(inner[2]));
                return false;
            }
        }
        if (dims[0] > MAX_FRAMES) {
            error = refuse(quoted + " claims " + std::to_string(dims[0]) + " frames");
            return false;
        }
        h5::Plist props(H5Dget_create_plist(set.get()));
        const H5D_layout_t layout = props.valid() ? H5Pget_layout(props.get()) : H5D_LAYOUT_ERROR;
        if ((layout != H5D_CHUNKED && layout != H5D_CONTIGUOUS) ||
            H5Pget_nfilters(props.get()) != 0 || H5Pget_external_count(props.get()) != 0) {
            error = refuse(quoted + " is stored in a way this reader does not accept " +
                           "(compact, virtual, filtered or external)");
            return false;
        }
        if (layout == H5D_CHUNKED) {
            hsize_t c[4] = {};
            bool chunkOk = H5Pget_chunk(props.get(), rank, c) == rank;
            for (int i = 0; chunkOk && i < rank; ++i) {
                chunkOk = chunk ? c[i] == chunk[i] : (c[i] >= 1 && c[i] <= MAX_SERIES_CHUNK);
            }
            if (!chunkOk) {
                error = refuse(quoted + " has chunks of an unexpected shape");
                return false;
            }
        }
        // Without filters every value takes its bytes in the file: frames the
        // file has no room for are not recorded, however many the shape
        // claims (a damaged file claims up to MAX_FRAMES from a few bytes).
        hsize_t frameBytes = expected.size;
        for (int i = 1; i < rank; ++i) frameBytes *= inner[i - 1];
        hsize_t fileSize = 0;
        if (H5Fget_filesize(file_, &fileSize) < 0) {
            error = h5::failure(refuse("the size of the file cannot be had"));
            return false;
        }
        length = std::min<hsize_t>(dims[0], fileSize / frameBytes);
        return true;
    }

private:
    hid_t file_;
    std::string path_;
};

bool readPoint(const h5::Dataset& set, hid_t memType, uint64_t index, void* out) {
    h5::Space fileSpace(H5Dget_space(set.get()));
    const hsize_t start = index, count = 1;
    h5::Space memSpace(H5Screate_simple(1, &count, nullptr));
    return fileSpace.valid() && memSpace.valid() &&
           H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &start, nullptr, &count, nullptr) >=
               0 &&
           H5Dread(set.get(), memType, memSpace.get(), fileSpace.get(), H5P_DEFAULT, out) >= 0;
}

}  // namespace

std::unique_ptr<RecordingReader> RecordingReader::open(const std::string& path,
                                                       std::string& error) {
    h5::quiet();
    if (::access(path.c_str(), R_OK) != 0) {
        error = "cannot read the recording " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (H5Fis_hdf5(path.c_str()) <= 0) {
        h5::takeError();
        error = "recording " + path + ": not an HDF5 file";
        return nullptr;
    }
    return openFile(path, path, H5P_DEFAULT, error);
}

std::unique_ptr<RecordingReader> RecordingReader::openImage(const void* data, size_t size,
                                                            const std::string& name,
                                                            std::string& error) {
    h5::quiet();
    // The signature a file begins with (the library's own files have their
    // superblock at the start).
    constexpr char SIGNATURE[8] = {'\x89', 'H', 'D', 'F', '\r', '\n', '\x1a', '\n'};
    if (!data || size < sizeof(SIGNATURE) || std::memcmp(data, SIGNATURE, sizeof(SIGNATURE)) != 0) {
        error = "recording " + name + ": not an HDF5 file";
        return nullptr;
    }
    h5::Plist access(H5Pcreate(H5P_FILE_ACCESS));
    if (!access.valid() || H5Pset_fapl_core(access.get(), 1 << 16, false) < 0 ||
        H5Pset_file_image(access.get(), const_cast<void*>(data), size) < 0) {
        error = h5::failure("recording " + name + ": cannot be opened in memory");
        return nullptr;
    }
    // The image must not be taken for a file of the same name on disk, nor
    // for another image open at the same time.
    static std::atomic<uint64_t> images{0};
    const std::string internal = "/nonexistent/ozr-recording-image-" + std::to_string(getpid()) +
                                 "-" + std::to_string(images++);
    return openFile(internal, name, access.get(), error);
}

std::unique_ptr<RecordingReader> RecordingReader::openFile(const std::string& name,
                                                           const std::string& path, hid_t access,
                                                           std::string& error) {
    std::unique_ptr<RecordingReader> r(new RecordingReader());
    r->path_ = path;
    r->file_ = h5::File(H5Fopen(name.c_str(), H5F_ACC_RDONLY, access));
    if (!r->file_.valid()) {
        error = h5::failure("recording " + path + ": damaged HDF5 file");
        return nullptr;
    }
    if (!r->readAttributes(error) || !r->openDatasets(error)) return nullptr;
    return r;
}

bool RecordingReader::checkInChild(const std::string& path, std::string& error) {
    int out[2];
    if (pipe(out) != 0) {
        error = std::string("cannot check the recording: ") + std::strerror(errno);
        return false;
    }
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        error = std::string("cannot check the recording: ") + std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    if (child == 0) {
        // Never outlives the caller, and never takes the machine's memory.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(4);
        ::close(out[0]);
        (void)h5::limitMemory(CHECK_MEMORY);
        // A zero byte after the file is open and after each frame tells the
        // caller the check goes on; the message (never holding one) ends it.
        const char alive = 0;
        std::string message;
        auto r = open(path, message);
        for (uint64_t i = 0; r && i < r->frameCount(); ++i) {
            if (::write(out[1], &alive, 1) < 0) _exit(3);
            RecordedFrame frame;
            if (!r->read(i, frame, message)) r.reset();
        }
        if (!r && ::write(out[1], message.data(), message.size()) < 0) _exit(3);
        _exit(r ? 0 : 1);
    }
    ::close(out[1]);
    std::string message;
    bool stalled = false;
    char buffer[512];
    for (;;) {
        pollfd fd{out[0], POLLIN, 0};
        const int ready = ::poll(&fd, 1, CHECK_STALL_SECONDS * 1000);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            stalled = true;
            ::kill(child, SIGKILL);
            break;
        }
        const ssize_t n = ready < 0 ? -1 : ::read(out[0], buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != 0) message += buffer[i];
        }
    }
    ::close(out[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (stalled) {
        error = "recording " + path + ": damaged beyond what the HDF5 library survives (no " +
                "progress in " + std::to_string(CHECK_STALL_SECONDS) + " s while reading it)";
    } else if (!message.empty()) {
        error = message;  // refused by the checks
    } else {
        // Ended without a word: killed, or (under a sanitizer) made to exit.
        const std::string how = WIFSIGNALED(status)
                                    ? std::string(strsignal(WTERMSIG(status)))
                                    : "exit status " + std::to_string(WEXITSTATUS(status));
        error = "recording " + path + ": damaged beyond what the HDF5 library survives (" + how +
                " while reading it)";
    }
    return false;
}

RecordingReader::~RecordingReader() {
    h5::quiet();
}

bool RecordingReader::readAttributes(std::string& error) {
    const Checker c(file_.get(), path_);
    RecordingInfo& i = info_;
    constexpr int64_t I32_MIN = std::numeric_limits<int32_t>::min();
    constexpr int64_t I32_MAX = std::numeric_limits<int32_t>::max();
    if (!c.readInt32(names::FORMAT_VERSION, I32_MIN, I32_MAX, i.formatVersion, error)) {
        return false;
    }
    if (i.formatVersion != FORMAT_VERSION) {
        error = c.refuse("format version " + std::to_string(i.formatVersion) +
                         ", this reader knows version " + std::to_string(FORMAT_VERSION));
        return false;
    }
    std::string model, mode;
    if (!c.readString(names::MODEL, model, error) || !c.readString(names::MODE, mode, error)) {
        return false;
    }
    if (!parseModel(model, i.model)) {
        error = c.refuse("unknown model \"" + model + "\"");
        return false;
    }
    if (!parseMode(mode, i.mode)) {
        error = c.refuse("unknown mode \"" + mode + "\" (DCS4 or DIST_AMP_HDR)");
        return false;
    }
    uint32_t k = 0;
    int64_t hdr[3] = {};
    if (!c.readUint32(names::WIDTH, 1, MAX_IMAGE_SIDE, i.width, error) ||
        !c.readUint32(names::HEIGHT, 1, MAX_IMAGE_SIDE, i.height, error) ||
        !c.readUint32(names::DCS_PER_FRAME, 1, 12, k, error) ||
        !c.readInt32(names::MODULATION_FREQUENCY, 1, I32_MAX, i.modulationFrequencyHz, error) ||
        !c.readInt32(names::EXPOSURE, I32_MIN, I32_MAX, i.exposureUs, error) ||
        !c.readInt32(names::GAIN, I32_MIN, I32_MAX, i.gain, error) ||
        !c.readInts(names::HDR_TIMES, I32_MIN, I32_MAX, hdr, 3, error) ||
        !c.readString(names::LIBRARY_VERSION, i.libraryVersion, error)) {
        return false;
    }
    for (size_t e = 0; e < 3; ++e) i.hdrIntegrationTimesUs[e] = static_cast<int32_t>(hdr[e]);
    if (k != i.dcsCount()) {
        error = c.refuse("mode " + mode + " has " + std::to_string(i.dcsCount()) +
                         " DCS images per frame, the file says " + std::to_string(k));
        return false;
    }
    // The OZR310 delivers its two readout halves stacked: an even height.
    if (i.model == Model::OZR310 && i.height % 2 != 0) {
        error = c.refuse("an ozr310 image has an even height, not " + std::to_string(i.height));
        return false;
    }
    return true;
}

bool RecordingReader::openDatasets(std::string& error) {
    const Checker c(file_.get(), path_);
    const hsize_t image[3] = {info_.dcsCount(), info_.height, info_.width};
    const hsize_t chunk[4] = {1, image[0], image[1], image[2]};
    hsize_t lengths[4] = {};
    if (!c.openDataset(names::DCS, {H5T_INTEGER, 2, true, "uint16"}, 4, image, chunk, dcs_,
                       lengths[0], error) ||
        !c.openDataset(names::FRAME_NUMBER, {H5T_INTEGER, 4, true, "uint32"}, 1, nullptr, nullptr,
                       frameNumber_, lengths[1], error) ||
        !c.openDataset(names::TIMESTAMP, {H5T_INTEGER, 8, true, "uint64"}, 1, nullptr, nullptr,
                       timestamp_, lengths[2], error) ||
        !c.openDataset(names::TEMPERATURE, {H5T_FLOAT, 4, false, "float32"}, 1, nullptr, nullptr,
                       temperature_, lengths[3], error)) {
        return false;
    }
    frames_ = *std::min_element(lengths, lengths + 4);
    return true;
}

namespace {

bool plausibleTemperature(float celsius) {
    return std::isfinite(celsius) && std::abs(celsius) <= 1000.0f;
}

}  // namespace

bool RecordingReader::readTemperatures(std::vector<float>& celsius, std::string& error) {
    std::lock_guard<std::mutex> lock(mu_);
    h5::quiet();
    std::vector<float> values(frames_);
    h5::Space fileSpace(H5Dget_space(temperature_.get()));
    const hsize_t start = 0, count = frames_;
    h5::Space memSpace(H5Screate_simple(1, &count, nullptr));
    if (frames_ > 0 && (!fileSpace.valid() || !memSpace.valid() ||
                        H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &start, nullptr,
                                            &count, nullptr) < 0 ||
                        H5Dread(temperature_.get(), H5T_NATIVE_FLOAT, memSpace.get(),
                                fileSpace.get(), H5P_DEFAULT, values.data()) < 0)) {
        error = h5::failure("recording " + path_ + ": the temperatures cannot be read");
        return false;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        if (!plausibleTemperature(values[i])) {
            error = "recording " + path_ + ", frame " + std::to_string(i) + ": temperature " +
                    std::to_string(values[i]) + " out of range";
            return false;
        }
    }
    celsius = std::move(values);
    return true;
}

bool RecordingReader::read(uint64_t index, RecordedFrame& frame, std::string& error) {
    std::lock_guard<std::mutex> lock(mu_);
    h5::quiet();
    const std::string where = "recording " + path_ + ", frame " + std::to_string(index);
    if (index >= frames_) {
        error = where + ": the recording has " + std::to_string(frames_) + " frames";
        return false;
    }
    RecordedFrame f;
    f.dcs.resize(info_.frameValues());
    h5::Space fileSpace(H5Dget_space(dcs_.get()));
    const hsize_t start[4] = {index, 0, 0, 0};
    const hsize_t count[4] = {1, info_.dcsCount(), info_.height, info_.width};
    h5::Space memSpace(H5Screate_simple(4, count, nullptr));
    if (!fileSpace.valid() || !memSpace.valid() ||
        H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0 ||
        H5Dread(dcs_.get(), H5T_NATIVE_UINT16, memSpace.get(), fileSpace.get(), H5P_DEFAULT,
                f.dcs.data()) < 0 ||
        !readPoint(frameNumber_, H5T_NATIVE_UINT32, index, &f.frameNumber) ||
        !readPoint(timestamp_, H5T_NATIVE_UINT64, index, &f.timestampMs) ||
        !readPoint(temperature_, H5T_NATIVE_FLOAT, index, &f.temperatureC)) {
        error = h5::failure(where + ": cannot be read");
        return false;
    }
    const auto high =
        std::find_if(f.dcs.begin(), f.dcs.end(), [](uint16_t v) { return v > MAX_DCS_VALUE; });
    if (high != f.dcs.end()) {
        error = where + ": DCS value " + std::to_string(*high) + " is not a 12-bit sample";
        return false;
    }
    if (!plausibleTemperature(f.temperatureC)) {
        error = where + ": temperature " + std::to_string(f.temperatureC) + " out of range";
        return false;
    }
    frame = std::move(f);
    return true;
}

}  // namespace ozrrec

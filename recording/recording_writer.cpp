#include "recording_writer.h"

#include <cstring>

namespace ozrrec {

namespace {

// Fixed-length, null-terminated: reading variable-length strings goes
// through the file's global heap, which a damaged file can make HDF5 itself
// crash on, so the reader accepts fixed-length strings only.
bool writeStringAttr(hid_t loc, const char* name, const std::string& value) {
    h5::Type type(H5Tcopy(H5T_C_S1));
    if (!type.valid() || H5Tset_size(type.get(), value.size() + 1) < 0 ||
        H5Tset_strpad(type.get(), H5T_STR_NULLTERM) < 0) {
        return false;
    }
    h5::Space space(H5Screate(H5S_SCALAR));
    h5::Attribute attr(H5Acreate2(loc, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT));
    return attr.valid() && H5Awrite(attr.get(), type.get(), value.c_str()) >= 0;
}

template <typename T>
bool writeAttr(hid_t loc, const char* name, hid_t fileType, hid_t memType, const T* values,
               hsize_t count) {
    h5::Space space(count == 1 ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &count, nullptr));
    h5::Attribute attr(H5Acreate2(loc, name, fileType, space.get(), H5P_DEFAULT, H5P_DEFAULT));
    return attr.valid() && H5Awrite(attr.get(), memType, values) >= 0;
}

// An empty dataset extendible along its first dimension, chunked as given.
h5::Dataset createSeries(hid_t file, const char* name, hid_t type, int rank, const hsize_t* shape,
                         const hsize_t* chunk) {
    hsize_t dims[4] = {0, 0, 0, 0};
    hsize_t maxDims[4] = {H5S_UNLIMITED, 0, 0, 0};
    for (int i = 1; i < rank; ++i) dims[i] = maxDims[i] = shape[i];
    h5::Space space(H5Screate_simple(rank, dims, maxDims));
    h5::Plist props(H5Pcreate(H5P_DATASET_CREATE));
    if (!space.valid() || !props.valid() || H5Pset_chunk(props.get(), rank, chunk) < 0) {
        return h5::Dataset();
    }
    return h5::Dataset(
        H5Dcreate2(file, name, type, space.get(), H5P_DEFAULT, props.get(), H5P_DEFAULT));
}

}  // namespace

std::unique_ptr<RecordingWriter> RecordingWriter::create(const std::string& path,
                                                         const RecordingInfo& info,
                                                         std::string& error) {
    h5::quiet();
    if (info.width == 0 || info.height == 0 || info.width > MAX_IMAGE_SIDE ||
        info.height > MAX_IMAGE_SIDE) {
        error = "recording " + path + ": image size " + std::to_string(info.width) + "x" +
                std::to_string(info.height) + " out of range";
        return nullptr;
    }
    std::unique_ptr<RecordingWriter> w(new RecordingWriter());
    w->info_ = info;
    w->info_.formatVersion = FORMAT_VERSION;
    w->path_ = path;
    w->file_ = h5::File(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
    if (!w->file_.valid()) {
        error = h5::failure("cannot create the recording " + path);
        return nullptr;
    }
    const hid_t f = w->file_.get();
    const RecordingInfo& i = w->info_;
    const uint32_t k = i.dcsCount();
    const bool attrs =
        writeAttr(f, names::FORMAT_VERSION, H5T_STD_I32LE, H5T_NATIVE_INT32, &i.formatVersion, 1) &&
        writeStringAttr(f, names::MODEL, modelName(i.model)) &&
        writeStringAttr(f, names::MODE, modeName(i.mode)) &&
        writeAttr(f, names::WIDTH, H5T_STD_U32LE, H5T_NATIVE_UINT32, &i.width, 1) &&
        writeAttr(f, names::HEIGHT, H5T_STD_U32LE, H5T_NATIVE_UINT32, &i.height, 1) &&
        writeAttr(f, names::DCS_PER_FRAME, H5T_STD_U32LE, H5T_NATIVE_UINT32, &k, 1) &&
        writeAttr(f, names::MODULATION_FREQUENCY, H5T_STD_I32LE, H5T_NATIVE_INT32,
                  &i.modulationFrequencyHz, 1) &&
        writeAttr(f, names::EXPOSURE, H5T_STD_I32LE, H5T_NATIVE_INT32, &i.exposureUs, 1) &&
        writeAttr(f, names::GAIN, H5T_STD_I32LE, H5T_NATIVE_INT32, &i.gain, 1) &&
        writeAttr(f, names::HDR_TIMES, H5T_STD_I32LE, H5T_NATIVE_INT32,
                  i.hdrIntegrationTimesUs.data(), 3) &&
        writeStringAttr(f, names::LIBRARY_VERSION, i.libraryVersion);
    if (!attrs) {
        error = h5::failure("cannot write the attributes of " + path);
        return nullptr;
    }
    const hsize_t image[4] = {0, k, i.height, i.width};
    const hsize_t imageChunk[4] = {1, k, i.height, i.width};
    const hsize_t seriesChunk[1] = {256};
    w->dcs_ = createSeries(f, names::DCS, H5T_STD_U16LE, 4, image, imageChunk);
    w->frameNumber_ = createSeries(f, names::FRAME_NUMBER, H5T_STD_U32LE, 1, image, seriesChunk);
    w->timestamp_ = createSeries(f, names::TIMESTAMP, H5T_STD_U64LE, 1, image, seriesChunk);
    w->temperature_ = createSeries(f, names::TEMPERATURE, H5T_IEEE_F32LE, 1, image, seriesChunk);
    if (!w->dcs_.valid() || !w->frameNumber_.valid() || !w->timestamp_.valid() ||
        !w->temperature_.valid()) {
        error = h5::failure("cannot create the datasets of " + path);
        return nullptr;
    }
    if (H5Fflush(f, H5F_SCOPE_LOCAL) < 0) {
        error = h5::failure("cannot write " + path);
        return nullptr;
    }
    return w;
}

RecordingWriter::~RecordingWriter() {
    std::string ignored;
    close(ignored);
}

bool RecordingWriter::extendAndWrite(const h5::Dataset& set, int rank, hid_t memType,
                                     const void* data, std::string& error) {
    hsize_t dims[4] = {frames_ + 1, info_.dcsCount(), info_.height, info_.width};
    if (H5Dset_extent(set.get(), dims) < 0) {
        error = h5::failure("cannot extend " + path_);
        return false;
    }
    h5::Space fileSpace(H5Dget_space(set.get()));
    hsize_t start[4] = {frames_, 0, 0, 0};
    hsize_t count[4] = {1, dims[1], dims[2], dims[3]};
    h5::Space memSpace(H5Screate_simple(rank, count, nullptr));
    if (!fileSpace.valid() || !memSpace.valid() ||
        H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0 ||
        H5Dwrite(set.get(), memType, memSpace.get(), fileSpace.get(), H5P_DEFAULT, data) < 0) {
        error = h5::failure("cannot write a frame to " + path_);
        return false;
    }
    return true;
}

bool RecordingWriter::append(const RecordedFrame& frame, std::string& error) {
    h5::quiet();
    if (!file_.valid()) {
        error = "recording " + path_ + " is closed";
        return false;
    }
    if (frame.dcs.size() != info_.frameValues()) {
        error = "recording " + path_ + ": a frame of " + std::to_string(frame.dcs.size()) +
                " values, expected " + std::to_string(info_.frameValues());
        return false;
    }
    // The images first: a file cut short before the flush below ends with
    // the previous frame.
    if (!extendAndWrite(dcs_, 4, H5T_NATIVE_UINT16, frame.dcs.data(), error) ||
        !extendAndWrite(frameNumber_, 1, H5T_NATIVE_UINT32, &frame.frameNumber, error) ||
        !extendAndWrite(timestamp_, 1, H5T_NATIVE_UINT64, &frame.timestampMs, error) ||
        !extendAndWrite(temperature_, 1, H5T_NATIVE_FLOAT, &frame.temperatureC, error)) {
        return false;
    }
    if (H5Fflush(file_.get(), H5F_SCOPE_LOCAL) < 0) {
        error = h5::failure("cannot write " + path_);
        return false;
    }
    ++frames_;
    return true;
}

bool RecordingWriter::close(std::string& error) {
    if (!file_.valid()) return true;
    h5::quiet();
    dcs_.reset();
    frameNumber_.reset();
    timestamp_.reset();
    temperature_.reset();
    const bool ok = H5Fclose(file_.release()) >= 0;
    if (!ok) error = h5::failure("cannot close " + path_);
    return ok;
}

}  // namespace ozrrec

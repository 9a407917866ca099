#include "hdf5_util.h"

namespace ozrrec::h5 {

namespace {

herr_t innermost(unsigned n, const H5E_error2_t* err, void* data) {
    auto* out = static_cast<std::string*>(data);
    // Walked upwards: entry 0 is where the error was detected.
    if (n == 0 && err && err->desc) *out = err->desc;
    return 0;
}

}  // namespace

void quiet() {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    H5Eclear2(H5E_DEFAULT);
}

std::string takeError() {
    std::string message;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, innermost, &message);
    H5Eclear2(H5E_DEFAULT);
    return message;
}

std::string failure(const std::string& what) {
    const std::string reason = takeError();
    return reason.empty() ? what : what + " (" + reason + ")";
}

}  // namespace ozrrec::h5

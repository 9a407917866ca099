#include "hdf5_util.h"

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <limits>

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

bool limitMemory(uint64_t headroom) {
    // The first field of statm: the size of the address space, in pages.
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    if (!(statm >> pages)) return false;
    const long page = sysconf(_SC_PAGESIZE);
    if (page <= 0) return false;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0) return false;
    const uint64_t mapped = pages * static_cast<uint64_t>(page);
    const uint64_t most = std::numeric_limits<rlim_t>::max();
    const uint64_t wanted = mapped >= most || headroom >= most - mapped ? most : mapped + headroom;
    if (limit.rlim_max != RLIM_INFINITY && wanted >= limit.rlim_max) return true;
    if (limit.rlim_cur != RLIM_INFINITY && wanted >= limit.rlim_cur) return true;
    limit.rlim_cur = static_cast<rlim_t>(wanted);
    return setrlimit(RLIMIT_AS, &limit) == 0;
}

}  // namespace ozrrec::h5

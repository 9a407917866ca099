// Small helpers the files of the emulated device share.
#pragma once

#include <linux/types.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace ozrsim {

// poll() and read() reach the emulation from inside the thread sanitizer's
// blocking-call interceptors, where it ignores lock operations. Sections
// entered that way tell it about the lock themselves.
struct SanitizerLockNote {
#if defined(__SANITIZE_THREAD__)
    explicit SanitizerLockNote(std::mutex& m) : m_(&m) {
        __tsan_acquire(m_);
    }
    ~SanitizerLockNote() {
        __tsan_release(m_);
    }
    SanitizerLockNote(const SanitizerLockNote&) = delete;
    SanitizerLockNote& operator=(const SanitizerLockNote&) = delete;

private:
    void* m_;
#else
    explicit SanitizerLockNote(std::mutex&) {}
#endif
};

// Copies a name into a fixed-size field, cut and NUL-terminated, the rest of
// the field zeroed.
template <size_t N>
void copyName(__u8 (&dst)[N], const std::string& src) {
    std::memset(dst, 0, N);
    std::memcpy(dst, src.data(), std::min(src.size(), N - 1));
}

template <size_t N>
void copyName(char (&dst)[N], const std::string& src) {
    std::memset(dst, 0, N);
    std::memcpy(dst, src.data(), std::min(src.size(), N - 1));
}

// The version every V4L2 node reports in its capabilities: that of the
// running kernel, encoded as the kernel's version code.
inline uint32_t kernelVersionCode() {
    struct utsname u {};
    unsigned version = 0, release = 0, sublevel = 0;
    if (uname(&u) != 0 || std::sscanf(u.release, "%u.%u.%u", &version, &release, &sublevel) < 2) {
        return (6u << 16) | (1u << 8);
    }
    return ((version & 0xFF) << 16) | ((release & 0xFF) << 8) | std::min(sublevel, 255u);
}

inline struct timespec monotonicTimespec() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

inline struct timeval monotonicNow() {
    const struct timespec ts = monotonicTimespec();
    struct timeval tv {};
    tv.tv_sec = ts.tv_sec;
    tv.tv_usec = ts.tv_nsec / 1000;
    return tv;
}

}  // namespace ozrsim

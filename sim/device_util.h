// Small helpers the files of the emulated device share.
#pragma once

#include <linux/types.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
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

// The version the capability requests report.
inline uint32_t versionCode(const std::optional<std::string>& version) {
    unsigned a = 0, b = 0, c = 0;
    if (version && std::sscanf(version->c_str(), "%u.%u.%u", &a, &b, &c) == 3) {
        return ((a & 0xFF) << 16) | ((b & 0xFF) << 8) | (c & 0xFF);
    }
    return (6u << 16) | (1u << 8);
}

inline struct timeval monotonicNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    struct timeval tv {};
    tv.tv_sec = ts.tv_sec;
    tv.tv_usec = ts.tv_nsec / 1000;
    return tv;
}

}  // namespace ozrsim

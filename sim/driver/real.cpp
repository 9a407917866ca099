#include "real.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

namespace ozrsim::real {

namespace {

// Resolves a symbol once; a missing symbol leaves a null pointer and the
// caller fails with ENOSYS.
template <class F>
F next(const char* name, const char* version = nullptr) {
    void* p = version ? dlvsym(RTLD_NEXT, name, version) : dlsym(RTLD_NEXT, name);
    return reinterpret_cast<F>(p);
}

#define OZRSIM_REAL(fn, type, ...)                  \
    static const auto fn = next<type>(__VA_ARGS__); \
    if (!fn) {                                      \
        errno = ENOSYS;                             \
        return {};                                  \
    }

}  // namespace

int open(const char* path, int flags, mode_t mode) {
    OZRSIM_REAL(fn, int (*)(const char*, int, ...), "open");
    return fn(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, mode_t mode) {
    OZRSIM_REAL(fn, int (*)(int, const char*, int, ...), "openat");
    return fn(dirfd, path, flags, mode);
}

int close(int fd) {
    OZRSIM_REAL(fn, int (*)(int), "close");
    return fn(fd);
}

int dup(int fd) {
    OZRSIM_REAL(fn, int (*)(int), "dup");
    return fn(fd);
}

int dup2(int fd, int target) {
    OZRSIM_REAL(fn, int (*)(int, int), "dup2");
    return fn(fd, target);
}

int dup3(int fd, int target, int flags) {
    OZRSIM_REAL(fn, int (*)(int, int, int), "dup3");
    return fn(fd, target, flags);
}

int fcntl(int fd, int cmd, void* arg) {
    OZRSIM_REAL(fn, int (*)(int, int, ...), "fcntl");
    return fn(fd, cmd, arg);
}

int close_range(unsigned first, unsigned last, int flags) {
    OZRSIM_REAL(fn, int (*)(unsigned, unsigned, int), "close_range");
    return fn(first, last, flags);
}

void closefrom(int first) {
    static const auto fn = next<void (*)(int)>("closefrom");
    if (fn) fn(first);
}

int ioctl(int fd, unsigned long request, void* arg) {
    OZRSIM_REAL(fn, int (*)(int, unsigned long, ...), "ioctl");
    return fn(fd, request, arg);
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    static const auto fn = next<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
    if (!fn) {
        errno = ENOSYS;
        return MAP_FAILED;
    }
    return fn(addr, length, prot, flags, fd, offset);
}

int munmap(void* addr, size_t length) {
    OZRSIM_REAL(fn, int (*)(void*, size_t), "munmap");
    return fn(addr, length);
}

int poll(struct pollfd* fds, nfds_t nfds, int timeout) {
    OZRSIM_REAL(fn, int (*)(struct pollfd*, nfds_t, int), "poll");
    return fn(fds, nfds, timeout);
}

int ppoll(struct pollfd* fds, nfds_t nfds, const struct timespec* timeout,
          const sigset_t* sigmask) {
    OZRSIM_REAL(fn, int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*),
                "ppoll");
    return fn(fds, nfds, timeout, sigmask);
}

ssize_t read(int fd, void* buf, size_t count) {
    OZRSIM_REAL(fn, ssize_t(*)(int, void*, size_t), "read");
    return fn(fd, buf, count);
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    OZRSIM_REAL(fn, ssize_t(*)(int, void*, size_t, off_t), "pread");
    return fn(fd, buf, count, offset);
}

FILE* fopen(const char* path, const char* mode) {
    OZRSIM_REAL(fn, FILE * (*)(const char*, const char*), "fopen");
    return fn(path, mode);
}

FILE* freopen(const char* path, const char* mode, FILE* stream) {
    OZRSIM_REAL(fn, FILE * (*)(const char*, const char*, FILE*), "freopen");
    return fn(path, mode, stream);
}

DIR* opendir(const char* path) {
    OZRSIM_REAL(fn, DIR * (*)(const char*), "opendir");
    return fn(path);
}

int stat(const char* path, struct stat* buf) {
    OZRSIM_REAL(fn, int (*)(const char*, struct stat*), "stat");
    return fn(path, buf);
}

int lstat(const char* path, struct stat* buf) {
    OZRSIM_REAL(fn, int (*)(const char*, struct stat*), "lstat");
    return fn(path, buf);
}

int fstat(int fd, struct stat* buf) {
    OZRSIM_REAL(fn, int (*)(int, struct stat*), "fstat");
    return fn(fd, buf);
}

int fstatat(int dirfd, const char* path, struct stat* buf, int flags) {
    OZRSIM_REAL(fn, int (*)(int, const char*, struct stat*, int), "fstatat");
    return fn(dirfd, path, buf, flags);
}

int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* buf) {
    OZRSIM_REAL(fn, int (*)(int, const char*, int, unsigned int, struct statx*), "statx");
    return fn(dirfd, path, flags, mask, buf);
}

int access(const char* path, int mode) {
    OZRSIM_REAL(fn, int (*)(const char*, int), "access");
    return fn(path, mode);
}

int faccessat(int dirfd, const char* path, int mode, int flags) {
    OZRSIM_REAL(fn, int (*)(int, const char*, int, int), "faccessat");
    return fn(dirfd, path, mode, flags);
}

ssize_t readlink(const char* path, char* buf, size_t size) {
    OZRSIM_REAL(fn, ssize_t(*)(const char*, char*, size_t), "readlink");
    return fn(path, buf, size);
}

ssize_t readlinkat(int dirfd, const char* path, char* buf, size_t size) {
    OZRSIM_REAL(fn, ssize_t(*)(int, const char*, char*, size_t), "readlinkat");
    return fn(dirfd, path, buf, size);
}

char* realpath(const char* path, char* resolved) {
    OZRSIM_REAL(fn, char* (*)(const char*, char*), "realpath");
    return fn(path, resolved);
}

int mkdir(const char* path, mode_t mode) {
    OZRSIM_REAL(fn, int (*)(const char*, mode_t), "mkdir");
    return fn(path, mode);
}

int rmdir(const char* path) {
    OZRSIM_REAL(fn, int (*)(const char*), "rmdir");
    return fn(path);
}

int unlink(const char* path) {
    OZRSIM_REAL(fn, int (*)(const char*), "unlink");
    return fn(path);
}

int rename(const char* from, const char* to) {
    OZRSIM_REAL(fn, int (*)(const char*, const char*), "rename");
    return fn(from, to);
}

int remove(const char* path) {
    OZRSIM_REAL(fn, int (*)(const char*), "remove");
    return fn(path);
}

int truncate(const char* path, off_t length) {
    OZRSIM_REAL(fn, int (*)(const char*, off_t), "truncate");
    return fn(path, length);
}

int chdir(const char* path) {
    OZRSIM_REAL(fn, int (*)(const char*), "chdir");
    return fn(path);
}

int xstat(int ver, const char* path, struct stat* buf) {
    OZRSIM_REAL(fn, int (*)(int, const char*, struct stat*), "__xstat", "GLIBC_2.2.5");
    return fn(ver, path, buf);
}

int lxstat(int ver, const char* path, struct stat* buf) {
    OZRSIM_REAL(fn, int (*)(int, const char*, struct stat*), "__lxstat", "GLIBC_2.2.5");
    return fn(ver, path, buf);
}

int fxstat(int ver, int fd, struct stat* buf) {
    OZRSIM_REAL(fn, int (*)(int, int, struct stat*), "__fxstat", "GLIBC_2.2.5");
    return fn(ver, fd, buf);
}

int fxstatat(int ver, int dirfd, const char* path, struct stat* buf, int flags) {
    OZRSIM_REAL(fn, int (*)(int, int, const char*, struct stat*, int), "__fxstatat", "GLIBC_2.2.5");
    return fn(ver, dirfd, path, buf, flags);
}

}  // namespace ozrsim::real

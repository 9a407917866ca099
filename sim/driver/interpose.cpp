// The C library entry points that the emulation defines. Each one asks,
// without taking a lock, whether the emulation is configured and whether
// the descriptor or path is served, and otherwise forwards the call to the
// next definition (the C library's) unchanged.
//
// Loaded with LD_PRELOAD, or linked into a program, these definitions come
// before the C library's. Sanitizer runtimes intercept the same functions
// first and forward to the next definition, which is then this one.

// The definitions below must not be replaced by the fortified inline
// versions of the headers.
#undef _FORTIFY_SOURCE

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>

#include "device.h"
#include "filetree.h"
#include "real.h"

using ozrsim::Device;
using ozrsim::FdTable;
using ozrsim::NodeKind;
using ozrsim::Resolved;

namespace {

bool active() {
    return Device::active();
}

// The headers declare most paths non-null; a null path still reaches the
// C library, which fails with EFAULT as the kernel does.
bool emptyPath(const char* path) {
    return path && path[0] == '\0';
}

bool served(int fd) {
    return active() && FdTable::kind(fd) != NodeKind::None;
}

bool isDeviceFd(int fd) {
    const NodeKind k = FdTable::kind(fd);
    return k == NodeKind::Video || k == NodeKind::Subdev;
}

// Resolves `path` when the emulation is configured; false for a path it
// does not serve (which then goes to the C library unchanged).
bool resolve(const char* path, Resolved& r) {
    return active() && ozrsim::resolvePath(path, r);
}

int fail(int negErrno) {
    errno = -negErrno;
    return -1;
}

mode_t modeArg(int flags, va_list ap) {
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        return static_cast<mode_t>(va_arg(ap, int));
    }
    return 0;
}

bool endsWith(const std::string& s, const char* tail) {
    const size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The one sampled file of the tree: reads of it are served from the
// temperature model.
bool isHwmonInput(const std::string& realPath) {
    const ozrsim::PathMap* map = ozrsim::activePathMap();
    if (!map || map->hwmonInputReal.empty() || !endsWith(realPath, "/temp1_input")) return false;
    char buf[PATH_MAX];
    return ozrsim::real::realpath(realPath.c_str(), buf) && map->hwmonInputReal == buf;
}

int openPath(int dirfd, const char* path, int flags, mode_t mode) {
    Resolved r;
    if (!resolve(path, r)) {
        return dirfd == AT_FDCWD ? ozrsim::real::open(path, flags, mode)
                                 : ozrsim::real::openat(dirfd, path, flags, mode);
    }
    Device& device = Device::instance();
    if (r.node != NodeKind::None) {
        const int fd = device.openNode(r.node, flags);
        if (fd == Device::NOT_SERVED) return ozrsim::real::open(r.path.c_str(), flags, mode);
        return fd < 0 ? fail(fd) : fd;
    }
    const bool input = endsWith(r.path, "/temp1_input") && isHwmonInput(r.path);
    if (input) device.refreshTemperatureFile();
    const int fd = ozrsim::real::open(r.path.c_str(), flags, mode);
    if (fd >= 0 && input) device.registerHwmonInput(fd);
    return fd;
}

FILE* fopenPath(const char* path, const char* mode) {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::fopen(path, mode);
    // A stream on a node reads the (empty) placeholder; the input file is
    // brought up to date before it is read.
    if (isHwmonInput(r.path)) Device::instance().refreshTemperatureFile();
    return ozrsim::real::fopen(r.path.c_str(), mode);
}

void describe(const Resolved& r, struct stat* st) {
    if (r.node != NodeKind::None) Device::instance().describeNode(r.node, st);
}

int statPath(const char* path, struct stat* st, bool follow) {
    Resolved r;
    if (!resolve(path, r)) {
        return follow ? ozrsim::real::stat(path, st) : ozrsim::real::lstat(path, st);
    }
    const int rc =
        follow ? ozrsim::real::stat(r.path.c_str(), st) : ozrsim::real::lstat(r.path.c_str(), st);
    if (rc == 0) describe(r, st);
    return rc;
}

int fstatFd(int fd, struct stat* st) {
    if (served(fd) && isDeviceFd(fd)) {
        const int rc = Device::instance().fstat(fd, st);
        if (rc != Device::NOT_SERVED) return rc < 0 ? fail(rc) : 0;
    }
    return ozrsim::real::fstat(fd, st);
}

int fstatatPath(int dirfd, const char* path, struct stat* st, int flags) {
    if (emptyPath(path) && (flags & AT_EMPTY_PATH)) return fstatFd(dirfd, st);
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::fstatat(dirfd, path, st, flags);
    const int rc = ozrsim::real::fstatat(AT_FDCWD, r.path.c_str(), st, flags);
    if (rc == 0) describe(r, st);
    return rc;
}

void describeStatx(NodeKind kind, struct statx* stx) {
    struct stat st {};
    Device::instance().describeNode(kind, &st);
    stx->stx_mode = static_cast<__u16>(st.st_mode);
    stx->stx_rdev_major = major(st.st_rdev);
    stx->stx_rdev_minor = minor(st.st_rdev);
    stx->stx_size = 0;
    stx->stx_blocks = 0;
}

ssize_t readFd(int fd, void* buf, size_t count, off_t offset, bool positioned) {
    if (served(fd)) {
        const NodeKind k = FdTable::kind(fd);
        if (k == NodeKind::HwmonInput) {
            const ssize_t n = Device::instance().readHwmon(fd, buf, count, offset, positioned);
            if (n != Device::NOT_SERVED) return n < 0 ? fail(static_cast<int>(n)) : n;
        } else {
            // The video node offers streaming I/O only.
            return fail(-EINVAL);
        }
    }
    return positioned ? ozrsim::real::pread(fd, buf, count, offset)
                      : ozrsim::real::read(fd, buf, count);
}

int pollFds(struct pollfd* fds, nfds_t nfds, const struct timespec* timeout,
            const sigset_t* sigmask) {
    if (active()) {
        for (nfds_t i = 0; i < nfds; ++i) {
            if (isDeviceFd(fds[i].fd)) return Device::instance().poll(fds, nfds, timeout, sigmask);
        }
    }
    return ozrsim::real::ppoll(fds, nfds, timeout, sigmask);
}

// Requests the kernel answers for every open file before a driver sees them:
// they act on the descriptor or its file, which the socket behind a node's
// descriptor has as well.
bool fileRequest(unsigned long request) {
    return request == FIOCLEX || request == FIONCLEX || request == FIONBIO || request == FIOASYNC;
}

// The third argument of fcntl() as the command defines it. A command not
// listed is read as a pointer, as the C library's own fcntl() reads it.
enum class FcntlArg { None, Int, Pointer };

FcntlArg fcntlArg(int cmd) {
    switch (cmd) {
        case F_GETFD:
        case F_GETFL:
        case F_GETOWN:
        case F_GETSIG:
        case F_GETLEASE:
        case F_GETPIPE_SZ:
        case F_GET_SEALS:
            return FcntlArg::None;
        case F_DUPFD:
        case F_DUPFD_CLOEXEC:
        case F_SETFD:
        case F_SETFL:
        case F_SETOWN:
        case F_SETSIG:
        case F_SETLEASE:
        case F_NOTIFY:
        case F_SETPIPE_SZ:
        case F_ADD_SEALS:
            return FcntlArg::Int;
        default:
            return FcntlArg::Pointer;
    }
}

void* intArg(int value) {
    return reinterpret_cast<void*>(static_cast<intptr_t>(value));
}

// The duplications as Device::duplicate() makes them.
int realDup(int fd, int, int) {
    return ozrsim::real::dup(fd);
}
int realDup2(int fd, int target, int) {
    return ozrsim::real::dup2(fd, target);
}
int realDup3(int fd, int target, int flags) {
    return ozrsim::real::dup3(fd, target, flags);
}
int realDupFd(int fd, int lowest, int cmd) {
    return ozrsim::real::fcntl(fd, cmd, intArg(lowest));
}

// A descriptor duplicated from a served one shares its open file; a served
// descriptor that the duplication replaces is closed.
int duplicate(int fd, int target, int flags, bool replaces, Device::DuplicateFn fn) {
    if (served(fd) || (replaces && served(target))) {
        const int rc = Device::instance().duplicate(fd, target, flags, replaces, fn);
        if (rc != Device::NOT_SERVED) return rc < 0 ? fail(rc) : rc;
    }
    return fn(fd, target, flags);
}

// Whether a descriptor in [first, last] is served, asked without a lock: a
// child between fork and exec closing what it inherited, the common caller,
// usually has none and must not wait for the device.
bool anyServed(unsigned first, unsigned last) {
    if (!active()) return false;
    const unsigned end = std::min<unsigned>(last, FdTable::SIZE - 1);
    for (unsigned fd = first; fd <= end; ++fd) {
        if (FdTable::kind(static_cast<int>(fd)) != NodeKind::None) return true;
    }
    return false;
}

int realCloseRange(unsigned first, unsigned last, int flags) {
    return ozrsim::real::close_range(first, last, flags);
}
int realCloseFrom(unsigned first, unsigned, int) {
    ozrsim::real::closefrom(static_cast<int>(first));
    return 0;
}

int fcntlFd(int fd, int cmd, va_list ap) {
    switch (fcntlArg(cmd)) {
        case FcntlArg::None:
            return ozrsim::real::fcntl(fd, cmd, nullptr);
        case FcntlArg::Int: {
            const int value = va_arg(ap, int);
            if (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) {
                return duplicate(fd, value, cmd, false, realDupFd);
            }
            return ozrsim::real::fcntl(fd, cmd, intArg(value));
        }
        case FcntlArg::Pointer:
        default:
            return ozrsim::real::fcntl(fd, cmd, va_arg(ap, void*));
    }
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------- open

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArg(flags, ap);
    va_end(ap);
    return openPath(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArg(flags, ap);
    va_end(ap);
    return openPath(AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArg(flags, ap);
    va_end(ap);
    return openPath(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArg(flags, ap);
    va_end(ap);
    return openPath(dirfd, path, flags, mode);
}

int __open_2(const char* path, int flags) {
    return openPath(AT_FDCWD, path, flags, 0);
}
int __open64_2(const char* path, int flags) {
    return openPath(AT_FDCWD, path, flags, 0);
}
int __openat_2(int dirfd, const char* path, int flags) {
    return openPath(dirfd, path, flags, 0);
}
int __openat64_2(int dirfd, const char* path, int flags) {
    return openPath(dirfd, path, flags, 0);
}

int creat(const char* path, mode_t mode) {
    return openPath(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}
int creat64(const char* path, mode_t mode) {
    return openPath(AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, mode);
}

FILE* fopen(const char* path, const char* mode) {
    return fopenPath(path, mode);
}
FILE* fopen64(const char* path, const char* mode) {
    return fopenPath(path, mode);
}

FILE* freopen(const char* path, const char* mode, FILE* stream) {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::freopen(path, mode, stream);
    return ozrsim::real::freopen(r.path.c_str(), mode, stream);
}
FILE* freopen64(const char* path, const char* mode, FILE* stream) {
    return freopen(path, mode, stream);
}

DIR* opendir(const char* path) {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::opendir(path);
    return ozrsim::real::opendir(r.path.c_str());
}

// ---------------------------------------------------------------- descriptors

int close(int fd) {
    if (served(fd)) {
        const int rc = Device::instance().close(fd);
        if (rc != Device::NOT_SERVED) return rc < 0 ? fail(rc) : 0;
    }
    return ozrsim::real::close(fd);
}

int dup(int fd) __THROW {
    return duplicate(fd, 0, 0, false, realDup);
}

int dup2(int fd, int target) __THROW {
    return duplicate(fd, target, 0, true, realDup2);
}

int dup3(int fd, int target, int flags) __THROW {
    return duplicate(fd, target, flags, true, realDup3);
}

int fcntl(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    const int rc = fcntlFd(fd, cmd, ap);
    va_end(ap);
    return rc;
}

int fcntl64(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    const int rc = fcntlFd(fd, cmd, ap);
    va_end(ap);
    return rc;
}

int close_range(unsigned first, unsigned last, int flags) __THROW {
    if (anyServed(first, last)) {
        const int rc = Device::instance().closeRange(first, last, flags, realCloseRange);
        return rc < 0 ? fail(rc) : rc;
    }
    return ozrsim::real::close_range(first, last, flags);
}

void closefrom(int first) __THROW {
    if (first >= 0 && anyServed(static_cast<unsigned>(first), ~0u)) {
        Device::instance().closeRange(static_cast<unsigned>(first), ~0u, 0, realCloseFrom);
        return;
    }
    ozrsim::real::closefrom(first);
}

int ioctl(int fd, unsigned long request, ...) __THROW {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (served(fd) && isDeviceFd(fd) && !fileRequest(request)) {
        const int rc = Device::instance().ioctl(fd, request, arg);
        if (rc != Device::NOT_SERVED) return rc < 0 ? fail(rc) : rc;
    }
    return ozrsim::real::ioctl(fd, request, arg);
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) __THROW {
    if (served(fd) && isDeviceFd(fd)) {
        int error = 0;
        void* p = Device::instance().mmap(addr, length, prot, flags, fd, offset, error);
        if (error != Device::NOT_SERVED) {
            if (p == MAP_FAILED) errno = error;
            return p;
        }
    }
    return ozrsim::real::mmap(addr, length, prot, flags, fd, offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset) __THROW {
    return mmap(addr, length, prot, flags, fd, offset);
}

int munmap(void* addr, size_t length) __THROW {
    if (active()) Device::instance().unmapped(addr, length);
    return ozrsim::real::munmap(addr, length);
}

int poll(struct pollfd* fds, nfds_t nfds, int timeout) {
    if (timeout < 0) return pollFds(fds, nfds, nullptr, nullptr);
    struct timespec ts {};
    ts.tv_sec = timeout / 1000;
    ts.tv_nsec = static_cast<long>(timeout % 1000) * 1000000L;
    return pollFds(fds, nfds, &ts, nullptr);
}

int __poll_chk(struct pollfd* fds, nfds_t nfds, int timeout, size_t fdslen) {
    if (fdslen / sizeof(*fds) < nfds) abort();
    return poll(fds, nfds, timeout);
}

int ppoll(struct pollfd* fds, nfds_t nfds, const struct timespec* timeout,
          const sigset_t* sigmask) {
    return pollFds(fds, nfds, timeout, sigmask);
}

int __ppoll_chk(struct pollfd* fds, nfds_t nfds, const struct timespec* timeout,
                const sigset_t* sigmask, size_t fdslen) {
    if (fdslen / sizeof(*fds) < nfds) abort();
    return ppoll(fds, nfds, timeout, sigmask);
}

ssize_t read(int fd, void* buf, size_t count) {
    return readFd(fd, buf, count, 0, false);
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    return readFd(fd, buf, count, offset, true);
}

ssize_t pread64(int fd, void* buf, size_t count, off64_t offset) {
    return readFd(fd, buf, count, offset, true);
}

// ---------------------------------------------------------------- stat

int stat(const char* __restrict path, struct stat* __restrict st) __THROW {
    return statPath(path, st, true);
}

int stat64(const char* __restrict path, struct stat64* __restrict st) __THROW {
    return statPath(path, reinterpret_cast<struct stat*>(st), true);
}

int lstat(const char* __restrict path, struct stat* __restrict st) __THROW {
    return statPath(path, st, false);
}

int lstat64(const char* __restrict path, struct stat64* __restrict st) __THROW {
    return statPath(path, reinterpret_cast<struct stat*>(st), false);
}

int fstat(int fd, struct stat* st) __THROW {
    return fstatFd(fd, st);
}

int fstat64(int fd, struct stat64* st) __THROW {
    return fstatFd(fd, reinterpret_cast<struct stat*>(st));
}

int fstatat(int dirfd, const char* __restrict path, struct stat* __restrict st, int flags) __THROW {
    return fstatatPath(dirfd, path, st, flags);
}

int fstatat64(int dirfd, const char* __restrict path, struct stat64* __restrict st,
              int flags) __THROW {
    return fstatatPath(dirfd, path, reinterpret_cast<struct stat*>(st), flags);
}

int statx(int dirfd, const char* __restrict path, int flags, unsigned int mask,
          struct statx* __restrict stx) __THROW {
    if (emptyPath(path) && (flags & AT_EMPTY_PATH) && served(dirfd) && isDeviceFd(dirfd)) {
        const int rc = ozrsim::real::statx(dirfd, path, flags, mask, stx);
        if (rc == 0) describeStatx(FdTable::kind(dirfd), stx);
        return rc;
    }
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::statx(dirfd, path, flags, mask, stx);
    const int rc = ozrsim::real::statx(AT_FDCWD, r.path.c_str(), flags, mask, stx);
    if (rc == 0 && r.node != NodeKind::None) describeStatx(r.node, stx);
    return rc;
}

// The stat interface of binaries built before glibc 2.33.
int __xstat(int ver, const char* path, struct stat* st) {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::xstat(ver, path, st);
    const int rc = ozrsim::real::xstat(ver, r.path.c_str(), st);
    if (rc == 0) describe(r, st);
    return rc;
}
int __xstat64(int ver, const char* path, struct stat64* st) {
    return __xstat(ver, path, reinterpret_cast<struct stat*>(st));
}
int __lxstat(int ver, const char* path, struct stat* st) {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::lxstat(ver, path, st);
    const int rc = ozrsim::real::lxstat(ver, r.path.c_str(), st);
    if (rc == 0) describe(r, st);
    return rc;
}
int __lxstat64(int ver, const char* path, struct stat64* st) {
    return __lxstat(ver, path, reinterpret_cast<struct stat*>(st));
}
int __fxstat(int ver, int fd, struct stat* st) {
    if (served(fd) && isDeviceFd(fd)) return fstatFd(fd, st);
    return ozrsim::real::fxstat(ver, fd, st);
}
int __fxstat64(int ver, int fd, struct stat64* st) {
    return __fxstat(ver, fd, reinterpret_cast<struct stat*>(st));
}
int __fxstatat(int ver, int dirfd, const char* path, struct stat* st, int flags) {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::fxstatat(ver, dirfd, path, st, flags);
    const int rc = ozrsim::real::fxstatat(ver, AT_FDCWD, r.path.c_str(), st, flags);
    if (rc == 0) describe(r, st);
    return rc;
}
int __fxstatat64(int ver, int dirfd, const char* path, struct stat64* st, int flags) {
    return __fxstatat(ver, dirfd, path, reinterpret_cast<struct stat*>(st), flags);
}

// ---------------------------------------------------------------- other paths

int access(const char* path, int mode) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::access(path, mode);
    return ozrsim::real::access(r.path.c_str(), mode);
}

int faccessat(int dirfd, const char* path, int mode, int flags) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::faccessat(dirfd, path, mode, flags);
    return ozrsim::real::faccessat(AT_FDCWD, r.path.c_str(), mode, flags);
}

int euidaccess(const char* path, int mode) __THROW {
    return faccessat(AT_FDCWD, path, mode, AT_EACCESS);
}

int eaccess(const char* path, int mode) __THROW {
    return faccessat(AT_FDCWD, path, mode, AT_EACCESS);
}

ssize_t readlink(const char* __restrict path, char* __restrict buf, size_t size) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::readlink(path, buf, size);
    return ozrsim::real::readlink(r.path.c_str(), buf, size);
}

ssize_t readlinkat(int dirfd, const char* __restrict path, char* __restrict buf,
                   size_t size) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::readlinkat(dirfd, path, buf, size);
    return ozrsim::real::readlinkat(AT_FDCWD, r.path.c_str(), buf, size);
}

char* realpath(const char* __restrict path, char* __restrict resolved) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::realpath(path, resolved);
    char buf[PATH_MAX];
    if (!ozrsim::real::realpath(r.path.c_str(), buf)) return nullptr;
    const std::string out = ozrsim::unredirectPath(buf);
    if (out.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    if (resolved) {
        memcpy(resolved, out.c_str(), out.size() + 1);
        return resolved;
    }
    return strdup(out.c_str());
}

char* canonicalize_file_name(const char* path) __THROW {
    return realpath(path, nullptr);
}

int mkdir(const char* path, mode_t mode) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::mkdir(path, mode);
    return ozrsim::real::mkdir(r.path.c_str(), mode);
}

int rmdir(const char* path) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::rmdir(path);
    return ozrsim::real::rmdir(r.path.c_str());
}

int unlink(const char* path) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::unlink(path);
    return ozrsim::real::unlink(r.path.c_str());
}

int remove(const char* path) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::remove(path);
    return ozrsim::real::remove(r.path.c_str());
}

int rename(const char* from, const char* to) __THROW {
    Resolved rf, rt;
    const char* f = resolve(from, rf) ? rf.path.c_str() : from;
    const char* t = resolve(to, rt) ? rt.path.c_str() : to;
    return ozrsim::real::rename(f, t);
}

int truncate(const char* path, off_t length) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::truncate(path, length);
    return ozrsim::real::truncate(r.path.c_str(), length);
}

int truncate64(const char* path, off64_t length) __THROW {
    return truncate(path, length);
}

int chdir(const char* path) __THROW {
    Resolved r;
    if (!resolve(path, r)) return ozrsim::real::chdir(path);
    return ozrsim::real::chdir(r.path.c_str());
}

}  // extern "C"

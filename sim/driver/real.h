// The C library's own definitions of the entry points that the emulation
// interposes, found with dlsym(RTLD_NEXT). The emulation calls these for its
// own work and for everything it does not serve.
#pragma once

#include <dirent.h>
#include <poll.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

struct statx;

namespace ozrsim::real {

int open(const char* path, int flags, mode_t mode);
int openat(int dirfd, const char* path, int flags, mode_t mode);
int close(int fd);
int dup(int fd);
int dup2(int fd, int target);
int dup3(int fd, int target, int flags);
// `arg` is passed on as given; the C library reads it as the command needs.
int fcntl(int fd, int cmd, void* arg);
int close_range(unsigned first, unsigned last, int flags);
void closefrom(int first);
int ioctl(int fd, unsigned long request, void* arg);
void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset);
int munmap(void* addr, size_t length);
int poll(struct pollfd* fds, nfds_t nfds, int timeout);
int ppoll(struct pollfd* fds, nfds_t nfds, const struct timespec* timeout, const sigset_t* sigmask);
ssize_t read(int fd, void* buf, size_t count);
ssize_t pread(int fd, void* buf, size_t count, off_t offset);
FILE* fopen(const char* path, const char* mode);
FILE* freopen(const char* path, const char* mode, FILE* stream);
DIR* opendir(const char* path);
int stat(const char* path, struct stat* buf);
int lstat(const char* path, struct stat* buf);
int fstat(int fd, struct stat* buf);
int fstatat(int dirfd, const char* path, struct stat* buf, int flags);
int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* buf);
int access(const char* path, int mode);
int faccessat(int dirfd, const char* path, int mode, int flags);
ssize_t readlink(const char* path, char* buf, size_t size);
ssize_t readlinkat(int dirfd, const char* path, char* buf, size_t size);
char* realpath(const char* path, char* resolved);
int mkdir(const char* path, mode_t mode);
int rmdir(const char* path);
int unlink(const char* path);
int rename(const char* from, const char* to);
int remove(const char* path);
int truncate(const char* path, off_t length);
int chdir(const char* path);

// The pre-2.33 stat interface, kept by the C library for old binaries.
int xstat(int ver, const char* path, struct stat* buf);
int lxstat(int ver, const char* path, struct stat* buf);
int fxstat(int ver, int fd, struct stat* buf);
int fxstatat(int ver, int dirfd, const char* path, struct stat* buf, int flags);

}  // namespace ozrsim::real

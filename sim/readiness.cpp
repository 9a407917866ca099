// What poll(), select() and epoll report for the nodes.
#include <sys/socket.h>

#include <cerrno>

#include "device.h"
#include "device_util.h"
#include "real.h"

namespace ozrsim {

short Device::maskLocked(int fd, const OpenFile& file, short events) {
    constexpr short ALWAYS = POLLERR | POLLHUP | POLLNVAL;
    if (gone_) return static_cast<short>((POLLERR | POLLHUP | POLLPRI) & (events | ALWAYS));
    if (file.kind != NodeKind::Video) return 0;
    if (owner_ != -1 && owner_ != fd) return POLLERR;
    if (!streaming_) return POLLERR;
    if (waitingForBuffers_ && (events & (POLLIN | POLLRDNORM))) return POLLERR;
    short mask = 0;
    if (!done_.empty()) mask |= POLLIN | POLLRDNORM;
    return static_cast<short>(mask & (events | ALWAYS));
}

void Device::updateReadinessLocked() {
    // The application's descriptor is readable exactly when poll() has
    // something to report, so that select() and epoll wake up as well.
    for (auto& [fd, file] : files_) {
        if (file.peer < 0) continue;
        const bool want = maskLocked(fd, file, POLLIN | POLLRDNORM) != 0;
        if (want == file.readable) continue;
        if (want) {
            const char byte = 1;
            if (send(file.peer, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL) == 1) file.readable = true;
        } else {
            char byte = 0;
            while (recv(fd, &byte, 1, MSG_DONTWAIT) == 1) {
            }
            file.readable = false;
        }
    }
}

int Device::poll(struct pollfd* fds, nfds_t nfds, const struct timespec* timeout,
                 const sigset_t* sigmask) {
    std::vector<struct pollfd> work(fds, fds + nfds);
    bool any = false;
    for (struct pollfd& p : work) {
        const NodeKind k = FdTable::kind(p.fd);
        if (k == NodeKind::Video || k == NodeKind::Subdev) {
            // The descriptor is readable whenever there is something to
            // report for POLLIN; other requests are answered from the state.
            p.events = (p.events & (POLLIN | POLLRDNORM)) ? POLLIN : 0;
            any = true;
        }
    }
    if (!any) return real::ppoll(fds, nfds, timeout, sigmask);

    const auto start = Clock::now();
    const auto total = timeout ? std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::seconds(timeout->tv_sec) +
                                     std::chrono::nanoseconds(timeout->tv_nsec))
                               : Clock::duration::max();
    // Fills the application's revents; returns the number of ready entries.
    auto collect = [&]() {
        int count = 0;
        std::lock_guard<std::mutex> lock(mu_);
        SanitizerLockNote note(mu_);
        for (nfds_t i = 0; i < nfds; ++i) {
            auto it = files_.find(fds[i].fd);
            const NodeKind k = FdTable::kind(fds[i].fd);
            if (fds[i].fd >= 0 && configured_ && it != files_.end() &&
                (k == NodeKind::Video || k == NodeKind::Subdev)) {
                fds[i].revents = maskLocked(fds[i].fd, it->second, fds[i].events);
            } else {
                fds[i].revents = work[i].revents;
            }
            if (fds[i].revents) ++count;
        }
        return count;
    };
    for (;;) {
        for (struct pollfd& p : work) p.revents = 0;
        // Something already to report: only look at the other descriptors.
        const bool ready = collect() > 0;
        for (struct pollfd& p : work) p.revents = 0;
        struct timespec remaining {};
        const struct timespec* wait = nullptr;
        const auto elapsed = Clock::now() - start;
        if (ready || (timeout && elapsed >= total)) {
            wait = &remaining;
        } else if (timeout) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(total - elapsed);
            remaining.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
            remaining.tv_nsec = static_cast<long>(ns.count() % 1000000000);
            wait = &remaining;
        }
        const int r = real::ppoll(work.data(), nfds, wait, sigmask);
        if (r < 0) return r;
        const int count = collect();
        if (count > 0 || r == 0) return count;
        // Readiness changed between the wake-up and the check: wait again.
        if (timeout && Clock::now() - start >= total) return 0;
    }
}

}  // namespace ozrsim

// What poll(), select() and epoll report for the nodes.
#include <sys/socket.h>

#include <cerrno>

#include "device.h"
#include "device_util.h"
#include "real.h"

namespace ozrsim {

short Device::maskLocked(const OpenFile& file, short events) {
    constexpr short ALWAYS = POLLERR | POLLHUP | POLLNVAL;
    if (goneFor(file)) return static_cast<short>((POLLERR | POLLHUP | POLLPRI) & (events | ALWAYS));
    short mask = 0;
    if (file.kind == NodeKind::Subdev) {
        if (!file.available.empty()) mask = POLLPRI;
    } else if (file.kind == NodeKind::Video && (events & (POLLIN | POLLRDNORM))) {
        // The queue is only looked at when asked for input. Nothing will
        // arrive while the stream is off or before the first buffer was
        // queued; every handle sees the same queue.
        if (!streaming_ || waitingForBuffers_) {
            mask = POLLERR;
        } else if (!done_.empty()) {
            mask = POLLIN | POLLRDNORM;
        }
    }
    return static_cast<short>(mask & (events | ALWAYS));
}

void Device::updateReadinessLocked() {
    // The application's descriptor is readable exactly when poll() has
    // something to report, so that select() and epoll wake up as well. A
    // pending event is sent as urgent data, which select() and epoll see as
    // an exception (POLLPRI); a kernel without urgent data on local sockets
    // gets an ordinary byte instead.
    for (auto& [handle, file] : files_) {
        if (file.peer < 0 || file.descriptors.empty()) continue;
        // Every descriptor of the file is the same socket.
        const int fd = file.descriptors.front();
        const short mask = maskLocked(file, POLLIN | POLLRDNORM | POLLPRI);
        const Signal want = (mask & POLLPRI) ? Signal::Urgent
                            : mask           ? Signal::Normal
                                             : Signal::None;
        if (want == file.signal) continue;
        char byte = 0;
        if (file.signal != Signal::None) {
            recv(fd, &byte, 1, MSG_OOB | MSG_DONTWAIT);
            while (recv(fd, &byte, 1, MSG_DONTWAIT) == 1) {
            }
            file.signal = Signal::None;
        }
        if (want == Signal::None) continue;
        byte = 1;
        constexpr int FLAGS = MSG_DONTWAIT | MSG_NOSIGNAL;
        if (want == Signal::Urgent && send(file.peer, &byte, 1, FLAGS | MSG_OOB) == 1) {
            file.signal = Signal::Urgent;
        } else if (send(file.peer, &byte, 1, FLAGS) == 1) {
            file.signal = want;
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
            // report: for input on the video node, events on the sub-device.
            // What is reported is answered from the state.
            const short signalled = k == NodeKind::Video ? (POLLIN | POLLRDNORM) : POLLPRI;
            p.events = (p.events & signalled) ? POLLIN : 0;
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
            const auto d = descriptors_.find(fds[i].fd);
            const NodeKind k = FdTable::kind(fds[i].fd);
            if (fds[i].fd >= 0 && configured_ && d != descriptors_.end() &&
                (k == NodeKind::Video || k == NodeKind::Subdev)) {
                fds[i].revents = maskLocked(files_.at(d->second), fds[i].events);
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

// A thread running one member function of an object.
#pragma once

#include <thread>

class KyrThread {
public:
    KyrThread() = default;
    KyrThread(const KyrThread&) = delete;
    KyrThread& operator=(const KyrThread&) = delete;
    ~KyrThread() {
        if (_thread.joinable()) {
            _thread.join();
        }
    }

    // Starts a thread calling (object->*method)(arg), with virtual dispatch.
    template <typename Obj, typename Arg>
    void start(Obj* object, void (Obj::*method)(Arg), Arg arg) {
        _thread = std::thread([object, method, arg] { (object->*method)(arg); });
    }

    bool joinable() const { return _thread.joinable(); }
    void join() { _thread.join(); }

private:
    std::thread _thread;
};

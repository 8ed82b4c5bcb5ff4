// The virtual Tarvex (or another device it stands for) made a kernel device with /dev/uhid: its
// model answers on the steady clock, and each time it leaves the bus the device is made anew.
#pragma once

#include "clock.h"
#include "virtual_tarvex.h"

#include <linux/uhid.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace quorvane {

class UhidTarvex {
public:
    // Makes the kernel device and serves it; sets `error` when that is impossible.
    UhidTarvex(TarvexConfig config, std::string& error);
    ~UhidTarvex(); // closing /dev/uhid destroys the device

    struct State {
        VirtualTarvex model;
        int opens = 0;     // times the host opened the device (as its first user)
        bool open = false; // whether the host has it open now
    };
    State snapshot() { return std::lock_guard(mutex_), state_; } // a copy, taken under the lock
    std::string hidrawPath() const; // the device's node while it is on the bus, else ""

private:
    bool sync(); // makes the kernel device match the model; false when the kernel refused it

    int fd_;
    std::string phys_;
    SteadyClock clock_;
    std::mutex mutex_;
    State state_;
    std::uint64_t generation_ = 0; // the model generation the kernel device stands for; 0: none
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace quorvane

#include "logind_inhibitor.h"

#include <cerrno>
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace quorvane {

namespace {

// A bus that answers slowly must not hold up the update.
constexpr std::uint64_t CallTimeoutUs = 2'000'000;

// Sleep, idle and shutdown (a reboot, a power-off) held off in one lock while the device is
// written; where the system refuses the shutdown part, sleep and idle alone.
constexpr const char* HeldOff[] = {"sleep:idle:shutdown", "sleep:idle"};

} // namespace

bool LogindInhibitor::hold() {
    if (fd_ != -1)
        return true;
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) >= 0)
        for (const char* what : HeldOff) {
            const int refused = inhibit(bus, what);
            if (fd_ != -1 || (refused != -EACCES && refused != -EPERM))
                break; // held, or no answer worth asking again for
        }
    sd_bus_flush_close_unref(bus);
    return fd_ != -1;
}

int LogindInhibitor::inhibit(sd_bus* bus, const char* what) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int fd = -1;
    int result = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                                "/org/freedesktop/login1",
                                                "org.freedesktop.login1.Manager", "Inhibit");
    if (result >= 0)
        result = sd_bus_message_append(call, "ssss", what, "quorvane",
                                       "Updating the Tarvex's firmware", "block");
    if (result >= 0)
        result = sd_bus_call(bus, call, CallTimeoutUs, &error, &reply);
    if (result >= 0)
        result = sd_bus_message_read(reply, "h", &fd);
    if (result >= 0)
        fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3); // the reply owns its descriptor
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return result;
}

void LogindInhibitor::release() {
    if (fd_ != -1)
        ::close(fd_);
    fd_ = -1;
}

std::unique_ptr<SleepInhibitor> makeSystemInhibitor() {
    return std::make_unique<LogindInhibitor>();
}

} // namespace quorvane

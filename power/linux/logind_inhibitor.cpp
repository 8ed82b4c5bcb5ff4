#include "logind_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace quorvane {

namespace {

// A bus that answers slowly must not hold up the update.
constexpr std::uint64_t CallTimeoutUs = 2'000'000;

} // namespace

bool LogindInhibitor::hold() {
    if (fd_ != -1)
        return true;
    sd_bus* bus = nullptr;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int fd = -1;
    if (sd_bus_open_system(&bus) >= 0 &&
        sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                       "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                       "Inhibit") >= 0 &&
        sd_bus_message_append(call, "ssss", "sleep:idle", "quorvane",
                              "Updating the Tarvex's firmware", "block") >= 0 &&
        sd_bus_call(bus, call, CallTimeoutUs, &error, &reply) >= 0 &&
        sd_bus_message_read(reply, "h", &fd) >= 0)
        fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3); // the reply owns its descriptor
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return fd_ != -1;
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

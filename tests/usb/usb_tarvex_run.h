// The USB Tarvex (usb_tarvex) for one test: started with its options, stopped at the end (its
// gadget leaves the bus and is removed), its log read back; and what the tests expect it to log.
#pragma once

#include "tarvex_protocol.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quorvane::test {

// Only root on a kernel with dummy_hcd's controller can make it; elsewhere the tests skip, unless
// QUORVANE_REQUIRE_USB (set in the VM) makes that a failure.
#define SKIP_WITHOUT_USB_TARVEX()                                                                  \
    do {                                                                                           \
        if (::geteuid() != 0 || !std::filesystem::exists("/sys/class/udc/dummy_udc.0")) {          \
            if (std::getenv("QUORVANE_REQUIRE_USB") == nullptr)                                    \
                GTEST_SKIP() << "no USB Tarvex here: needs root and dummy_hcd";                    \
            FAIL() << "no USB Tarvex here: needs root and dummy_hcd";                              \
        }                                                                                          \
    } while (false)

class UsbTarvexRun {
public:
    UsbTarvexRun(const std::filesystem::path& dir, const std::string& options)
        : log_(dir / "usb-tarvex.log") {
        const std::string command = "exec " USB_TARVEX " --log " + log_.string() + " " + options;
        if ((pid_ = ::fork()) == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            ::_exit(127);
        }
    }
    UsbTarvexRun(const UsbTarvexRun&) = delete;
    ~UsbTarvexRun() { stop(); }

    // Its hidraw node once it is on the bus under `productId`, within 20 s; "" if it is not.
    static std::string waitForNode(std::uint16_t productId) {
        char id[40];
        std::snprintf(id, sizeof id, "HID_ID=0003:00001D50:0000%04X", productId);
        for (int k = 0; k < 400; ++k, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
            for (const auto& node : std::filesystem::directory_iterator("/sys/class/hidraw")) {
                std::ifstream uevent(node.path() / "device/uevent");
                for (std::string line; std::getline(uevent, line);)
                    if (line == id && std::filesystem::exists("/dev" / node.path().filename()))
                        return "/dev/" + node.path().filename().string();
            }
        return "";
    }

    // Stops it and returns what it logged: its comings and goings and every report set.
    std::vector<std::string> stop() {
        if (pid_ > 0)
            ::kill(pid_, SIGTERM), ::waitpid(pid_, nullptr, 0), pid_ = -1;
        std::vector<std::string> lines;
        std::ifstream log(log_);
        for (std::string line; std::getline(log, line);)
            lines.push_back(line);
        return lines;
    }

private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
};

// The reports it logs, written out: the ID, then the content, zero to its 65 bytes.
inline std::string reportLine(const char* mode, const std::uint8_t* content, std::size_t length) {
    std::string line = std::string(mode) + " set 00";
    for (std::size_t i = 0; i < 64; ++i) {
        const int byte = i < length ? content[i] : 0;
        line += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
    }
    return line + " ok";
}

// An update's log: the entry report to the application firmware, then `records` of `image` to
// the bootloader, then `last` if it is not empty; the bus events as `bus` says (A: on the bus in
// its application firmware, B: in its bootloader, -: off the bus).
inline std::vector<std::string> updateLog(const std::string& bus,
                                          const std::vector<std::uint8_t>& image, int records,
                                          const std::string& last = "") {
    std::vector<std::string> log;
    bool transferred = false;
    for (const char event : bus) {
        log.push_back(event == '-'   ? "unbound"
                      : event == 'A' ? "bound 1d50:2211"
                                     : "bound 1d50:b046");
        if (log.size() == 1)
            log.push_back(
                reportLine("application", EnterBootloaderCode.data(), EnterBootloaderCode.size()));
        if (event != 'B' || std::exchange(transferred, true))
            continue;
        for (std::size_t k = 0; k < static_cast<std::size_t>(records); ++k)
            log.push_back(reportLine("bootloader", &image[k * RecordSize], RecordSize));
        if (!last.empty())
            log.push_back(last);
    }
    return log;
}

// An update, to its end or to the device's fault.
struct UpdateCase {
    const char* name;
    const char* faults; // the USB Tarvex's options
    int exitCode;
    const char* says; // a pattern the program's words match
    int recordsTaken;
    const char* bus; // as updateLog reads it
    const char* last = "";
};

} // namespace quorvane::test

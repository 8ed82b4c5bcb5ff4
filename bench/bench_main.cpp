// quorvane-bench: how much the program adds to the device's own pace, on a real clock against
// the virtual Tarvex.
//   (a) the transfer's wall time against its pacing floor (records x 20 ms), per report;
//   (b) the cost of one discovery with foreign interfaces before the Tarvex;
//   (c) how much a whole transfer (the image read into memory, then sent) raises the peak
//       memory, for a small and a large image: at most the image's size plus 1 MiB (each in a
//       child process, on a virtual clock, since memory does not depend on time).
#include "discovery.h"
#include "firmware_image.h"
#include "firmware_updater.h"
#include "forwarding_platform.h"
#include "null_window.h"
#include "tarvex_protocol.h"
#include "virtual_platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace quorvane;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

TarvexConfig benchConfig(TarvexMode start) {
    TarvexConfig c = defaultTarvexConfig();
    c.startMode = start;
    return c;
}

fs::path writeImage(const fs::path& dir, std::size_t bytes) {
    fs::create_directories(dir);
    fs::path path = dir / "quorvane.bin";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < bytes; ++i)
        out.put(static_cast<char>((i * 131 + 7) & 0xFF));
    return path;
}

// Forwards to the virtual platform and notes, on the machine's clock, when the first data
// report went out and when the pause after the last one ended.
class TimedPlatform final : public ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    CallResult setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        if (!firstReport_)
            firstReport_ = Steady::now();
        lastWasReport_ = true;
        return ForwardingPlatform::setFeature(h, b, n);
    }
    void sleep(int ms) override {
        ForwardingPlatform::sleep(ms);
        if (lastWasReport_ && ms == RecordPauseMs)
            lastPauseEnd_ = Steady::now();
        lastWasReport_ = false;
    }

    double sendingSeconds() const {
        return firstReport_ ? std::chrono::duration<double>(lastPauseEnd_ - *firstReport_).count()
                            : 0.0;
    }

private:
    std::optional<Steady::time_point> firstReport_;
    Steady::time_point lastPauseEnd_;
    bool lastWasReport_ = false;
};

// One whole transfer to a device already in its bootloader, as the upgrade runs it: the image
// read and checked, then its records sent.
bool runTransfer(HidPlatform& api, const fs::path& image) {
    NullWindow window;
    DeviceState state;
    state.ProgressFullWidth = 5055;
    DeviceContext ctx{api, window, state};
    FindTheHid(ctx);
    FirmwareUpdater updater(ctx, image);
    const ImageCheck checked = checkFirmwareImage(image);
    const bool ok = !checked.problem && updater.SendFlashData(checked.records);
    ctx.state.closeHandles();
    return ok;
}

bool transferOverhead(const fs::path& dir, int records) {
    const fs::path image = writeImage(dir, static_cast<std::size_t>(records) * RecordSize);
    SteadyClock clock;
    TarvexConfig config = benchConfig(TarvexMode::Bootloader);
    config.expectedRecords = records;
    VirtualPlatform device(clock, config);
    device.keepLog = false;
    TimedPlatform api(device);
    const bool ok = runTransfer(api, image);
    const double floor = records * RecordPauseMs / 1000.0;
    const double wall = api.sendingSeconds();
    std::printf("transfer %4d records: %8.3f s, floor %7.3f s, overhead %6.3f ms per report "
                "(%.2f%% of the floor)%s\n",
                records, wall, floor, (wall - floor) * 1000.0 / records,
                (wall - floor) * 100.0 / floor, ok ? "" : "  [transfer FAILED]");
    return ok && device.tarvex().recordsReceived() == records;
}

void discoveryCost(int foreignCount) {
    VirtualClock clock;
    VirtualPlatform api(clock, benchConfig(TarvexMode::Application));
    api.keepLog = false;
    for (int i = 0; i < foreignCount; ++i) {
        ForeignInterface f;
        f.path = "foreign/" + std::to_string(i);
        f.attributes = {0x046D, static_cast<std::uint16_t>(0x1000 + i), 0x0100};
        api.foreignBefore.push_back(f);
    }
    NullWindow window;
    DeviceState state;
    DeviceContext ctx{api, window, state};
    const int rounds = 20000 / (foreignCount + 1) + 100;
    const auto start = Steady::now();
    for (int i = 0; i < rounds; ++i) {
        FindTheHid(ctx);
        ctx.state.closeHandles();
    }
    const double us = std::chrono::duration<double, std::micro>(Steady::now() - start).count();
    std::printf("FindTheHid with %3d foreign interfaces before the Tarvex: %8.2f us per call\n",
                foreignCount, us / rounds);
}

// The process's peak resident set in KB, from the kernel's high-water mark: getrusage's figure
// keeps the size the process had before exec, the parent's, which would hide the transfer.
long peakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // KB on Linux
}

// Runs in a child process: one whole transfer on a virtual clock; its peak RSS before the
// transfer and after may grow by the image's size plus 1 MiB at most.
int memoryChild(const fs::path& dir, std::size_t bytes) {
    const fs::path image = writeImage(dir, bytes);
    VirtualClock clock;
    TarvexConfig config = benchConfig(TarvexMode::Bootloader);
    config.expectedRecords = static_cast<int>(bytes / RecordSize);
    config.keepRecords = false; // the device's storage is not the program's memory
    VirtualPlatform api(clock, config);
    api.keepLog = false;
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak set back to the present size
    const long before = peakKb();
    const bool ok = runTransfer(api, image);
    const long grown = peakKb() - before;
    const long allowed = static_cast<long>((bytes + (std::size_t{1} << 20)) / 1024);
    std::printf("peak memory, %8zu-byte image (%5d records sent): %6ld KB before the transfer, "
                "+%5ld KB during it, at most %5ld KB (image + 1 MiB): %s%s\n",
                bytes, api.tarvex().recordsReceived(), before, grown, allowed,
                grown <= allowed ? "PASS" : "FAIL", ok ? "" : "  [transfer FAILED]");
    return ok && grown <= allowed ? 0 : 1;
}

bool peakMemory(const char* self, const fs::path& dir, std::size_t bytes) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string size = std::to_string(bytes);
        const std::string where = (dir / std::to_string(bytes)).string();
        execl(self, self, "--memory", size.c_str(), where.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--memory")
        return memoryChild(argv[3], std::strtoull(argv[2], nullptr, 10));

    const fs::path dir = fs::temp_directory_path() / ("quorvane-bench-" + std::to_string(getpid()));
    bool ok = true;
    std::printf("(a) transfer pace\n");
    for (int records : {50, 500})
        ok = transferOverhead(dir / std::to_string(records), records) && ok;
    std::printf("(b) discovery\n");
    for (int foreign : {1, 10, 100})
        discoveryCost(foreign);
    std::printf("(c) memory\n");
    for (std::size_t bytes : {std::size_t{4000}, std::size_t{1310640}})
        ok = peakMemory(argv[0], dir, bytes) && ok;
    std::error_code ec;
    fs::remove_all(dir, ec);
    return ok ? 0 : 1;
}

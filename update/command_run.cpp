#include "command_run.h"

#include "device_info.h"

namespace quorvane {

std::optional<DeviceSnapshot> snapshotOf(const DeviceState& s) {
    if (!s.DeviceFound)
        return std::nullopt;
    const HidAttributes& a = s.Attributes;
    return DeviceSnapshot{a.ProductID == BootModeProductId ? "bootloader" : "application",
                          a.VendorID,
                          a.ProductID,
                          utf8Text(versionText(a.VersionNumber)),
                          utf8Text(s.Manufacturer),
                          utf8Text(s.Product),
                          utf8Text(s.SerialNumber),
                          s.DevicePath};
}

CommandRun::CommandRun(const CommandServices& services, const DeviceState& state,
                       std::string command)
    : services_(services) {
    record_.started = utcNow();
    record_.program = services.program;
    record_.command = std::move(command);
    record_.deviceBefore = snapshotOf(state);
}

void CommandRun::setImage(ImageSummary image, std::int64_t records) {
    record_.image = std::move(image);
    record_.recordsTotal = records;
}

void CommandRun::finish(const DeviceState& state, const std::optional<std::string>& failure,
                        bool stopped) {
    record_.sleepHeldOff = sleep_ && sleep_->held();
    sleep_.reset();
    record_.ended = utcNow();
    record_.deviceAfter = snapshotOf(state);
    record_.outcome = stopped ? "stopped" : failure ? "failed" : "completed";
    record_.message = stopped ? "" : failure.value_or("");
    if (services_.history)
        services_.history->append(record_);
    if (services_.lastRecord)
        *services_.lastRecord = record_;
}

} // namespace quorvane

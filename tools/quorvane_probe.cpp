// quorvane-probe: one discovery on the system's own HID interfaces, with the backend the
// program uses on this platform, printing what it found. No window, no update, nothing sent to
// a device: it opens the Tarvex, reads its attributes, capabilities and strings, and closes it.
//
// Exit status: 0 when discovery ran (whether or not a Tarvex is present), 1 when a Tarvex was
// found but could not be read completely, 2 when the program's own directory is unknown.
#include "device_context.h"
#include "device_info.h"
#include "device_state.h"
#include "discovery.h"
#include "executable_directory.h"
#include "firmware_image.h"
#include "null_window.h"
#include "system_platform.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace quorvane;

const char* openErrorName(OpenError error) {
    switch (error) {
    case OpenError::AccessDenied:
        return "denied";
    case OpenError::NotFound:
        return "gone";
    default:
        return "no open";
    }
}

const char* modeName(std::uint16_t productId) {
    return productId == AppModeProductId ? "application firmware" : "bootloader";
}

} // namespace

int main() {
    prepareConsole();
    const std::unique_ptr<HidPlatform> platform = makeSystemPlatform();
    std::printf("quorvane-probe: %s backend\n", systemPlatformName());

    // What discovery will look through: each interface present, with its IDs where it opens.
    const std::vector<std::string> paths = platform->enumerateInterfaces();
    std::printf("HID interfaces present: %zu\n", paths.size());
    for (const std::string& path : paths) {
        const OpenResult opened = platform->open(path, OpenMode::Plain);
        HidAttributes a;
        if (opened.handle != 0 && platform->getAttributes(opened.handle, a))
            std::printf("  %04X:%04X  %s\n", a.VendorID, a.ProductID, path.c_str());
        else
            std::printf("  %-9s  %s\n", opened.handle != 0 ? "no IDs" : openErrorName(opened.error),
                        path.c_str());
        if (opened.handle != 0)
            platform->close(opened.handle);
    }

    NullWindow window;
    DeviceState state;
    DeviceContext ctx{*platform, window, state};
    const bool found = FindTheHid(ctx);
    int status = 0;
    if (!found) {
        std::printf("Tarvex: none found\n");
    } else {
        const HidAttributes& a = state.Attributes;
        std::printf("Tarvex: found, product ID 0x%04X (%s), vendor ID 0x%04X\n", a.ProductID,
                    modeName(a.ProductID), a.VendorID);
        std::printf("Path: %s\n", state.DevicePath.c_str());
        if (state.Capabilities) {
            std::printf("Feature report length: %u bytes\n",
                        static_cast<unsigned>(state.Capabilities->FeatureReportByteLength));
        } else {
            std::fprintf(stderr, "error: the Tarvex's capabilities could not be read\n");
            status = 1;
        }
        const std::pair<const char*, StringKind> strings[] = {
            {"Manufacturer", StringKind::Manufacturer},
            {"Product", StringKind::Product},
            {"Serial number", StringKind::SerialNumber}};
        for (const auto& [name, kind] : strings) {
            const auto text = queryDeviceString(ctx, kind);
            if (!text) {
                std::fprintf(stderr, "error: the Tarvex's %s could not be read\n", name);
                status = 1;
            }
            std::printf("%s: %s\n", name, text ? utf8Text(*text).c_str() : "");
        }
        std::printf("Version: %s\n", utf8Text(versionText(a.VersionNumber)).c_str());
    }
    closeDeviceHandles(ctx);

    const auto directory = executableDirectory();
    if (!directory) {
        std::fprintf(stderr, "error: the program's own directory is unknown\n");
        return 2;
    }
    const std::filesystem::path image = firmwareImagePath(*directory);
    const ImageCheck check = checkFirmwareImage(image);
    if (check.problem)
        std::printf("Firmware image: %s\n", check.problem->c_str());
    else
        std::printf("Firmware image: \"%s\", %lld records\n", displayPath(image).c_str(),
                    static_cast<long long>(check.records.size()));
    return status;
}

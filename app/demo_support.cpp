#include "demo_support.h"

#include "tarvex_protocol.h"

#include <iostream>
#include <utility>

namespace quorvane {

int imageRecords(const std::filesystem::path& image) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(image, error);
    return error ? 0 : static_cast<int>(size / RecordSize);
}

void printLabels(const std::function<std::string(InfoLabel)>& shown) {
    const std::pair<const char*, InfoLabel> rows[] = {
        {"Manufacturer", InfoLabel::Manufacturer},
        {"Product", InfoLabel::Product},
        {"Version", InfoLabel::Version},
        {"Serial Number", InfoLabel::SerialNumber},
    };
    for (const auto& [caption, label] : rows)
        std::cout << caption << ": \"" << shown(label) << "\"\n";
    std::cout << std::flush;
}

int reportOutcome(VirtualPlatform& platform, const std::optional<std::string>& failure,
                  int expectedRecords, const std::optional<std::string>& toldUser) {
    VirtualTarvex& tarvex = platform.tarvex();
    tarvex.advance(platform.nowMs());
    const auto received = tarvex.records().size();
    const bool backInApplication = tarvex.present() && tarvex.mode() == TarvexMode::Application;
    if (failure) {
        std::cout << "upgrade failed: " << *failure << '\n';
        return 1;
    }
    if (toldUser) {
        std::cout << "upgrade failed: " << *toldUser << '\n';
        return 1;
    }
    if (backInApplication && expectedRecords > 0 &&
        received == static_cast<std::size_t>(expectedRecords)) {
        std::cout << "upgrade finished: device back in its application firmware, " << received
                  << " records received\n";
        return 0;
    }
    std::cout << "upgrade failed: device "
              << (!tarvex.present()                          ? "absent"
                  : tarvex.mode() == TarvexMode::Application ? "in its application"
                                                             : "in its bootloader")
              << ", " << received << " of " << expectedRecords << " records received\n";
    return 1;
}

} // namespace quorvane

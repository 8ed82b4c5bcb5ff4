// What both demos print of a self-driven upgrade of the virtual Tarvex, whichever window shows it.
#pragma once

#include "virtual_platform.h"
#include "window_seam.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace quorvane {

// Long enough for any upgrade of the sample image; a self-driving run that takes longer closes
// the window, which stops the command.
inline constexpr int SelfDriveLimitMs = 120000;

// Whole records of 40 bytes in the image; 0 when it cannot be read.
int imageRecords(const std::filesystem::path& image);

// The four fields as the window shows them, one line each.
void printLabels(const std::function<std::string(InfoLabel)>& shown);

// How the self-driven upgrade ended, printed; 0 when the device came back in its application
// firmware with every record of the image and nobody was told of a failure.
int reportOutcome(VirtualPlatform& platform, const std::optional<std::string>& failure,
                  int expectedRecords, const std::optional<std::string>& toldUser);

} // namespace quorvane

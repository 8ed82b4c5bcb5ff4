// The platform backend the program uses on the machine it was built for; the build picks the
// file that implements this (Windows or hidraw).
#pragma once

#include "ApiDeclarations.h"

#include <memory>

namespace quorvane {

std::unique_ptr<HidPlatform> makeSystemPlatform();
const char* systemPlatformName();
// Makes the console show the UTF-8 this program prints.
void prepareConsole();

} // namespace quorvane

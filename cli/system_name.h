// The operating system this program runs on, as a support engineer wants it at the top of a
// trace: its name, release and machine ("Linux 6.1.0-18-amd64 x86_64", "Windows 10.0.19045").
#pragma once

#include <string>

namespace quorvane {

std::string systemName();

} // namespace quorvane

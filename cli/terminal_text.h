// Text the program did not write itself (device strings, paths, serial numbers, the history's
// lines) made safe for a terminal: no control character reaches it raw, so a device cannot
// retitle the terminal, erase a line or forge one.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// `text` with every control character shown escaped: \t \n \r by name, the other C0 controls,
// DEL and bytes that are not UTF-8 as \xNN, the C1 controls (U+0080..U+009F) as \u0080..\u009f.
// Everything else passes unchanged.
std::string terminalSafe(std::string_view text);

} // namespace quorvane

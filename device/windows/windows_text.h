// Text at the Windows boundary: the program carries paths and names as UTF-8, the wide-character
// Windows calls take and give UTF-16.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// Nothing when `text` is not well-formed UTF-8; the empty string converts to the empty string.
std::optional<std::wstring> wideFromUtf8(std::string_view text);
// Nothing when `text` holds an unpaired surrogate, which UTF-8 cannot carry.
std::optional<std::string> utf8FromWide(std::wstring_view text);
// Windows' own message for the error `code` (FormatMessage), in UTF-8 without its line end;
// empty when Windows has none.
std::string systemMessage(unsigned long code);

} // namespace quorvane

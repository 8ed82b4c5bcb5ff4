// Text at the Windows boundary: the program carries paths and names as UTF-8, the wide-character
// Windows calls take and give UTF-16 (wchar_t is 16 bits there).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// UTF-16 of UTF-8 text for a wide Windows call; bytes that are not UTF-8 become U+FFFD.
std::wstring wideText(std::string_view text);
// UTF-8 of what a wide Windows call gave; unpaired surrogates become U+FFFD.
std::string utf8Text(std::wstring_view text);
// The same where a replaced character would name something else (a path, a place): nothing
// when `text` does not convert exactly.
std::optional<std::wstring> wideFromUtf8(std::string_view text);
std::optional<std::string> utf8FromWide(std::wstring_view text);
// Windows' own message for the error `code` (FormatMessage), in UTF-8 without its line end;
// empty when Windows has none.
std::string systemMessage(unsigned long code);

} // namespace quorvane

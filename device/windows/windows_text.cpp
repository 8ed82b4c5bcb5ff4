#include "windows_text.h"

#include "text_encoding.h"

#include <windows.h>

namespace quorvane {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

std::wstring wideText(std::string_view text) {
    const std::u16string utf16 = utf16Text(text);
    return {utf16.begin(), utf16.end()};
}

std::string utf8Text(std::wstring_view text) {
    return utf8Text(std::u16string(text.begin(), text.end()));
}

std::optional<std::wstring> wideFromUtf8(std::string_view text) {
    std::wstring wide = wideText(text);
    if (utf8Text(wide) != text)
        return std::nullopt;
    return wide;
}

std::optional<std::string> utf8FromWide(std::wstring_view text) {
    std::string utf8 = utf8Text(text);
    if (wideText(utf8) != text)
        return std::nullopt;
    return utf8;
}

std::string systemMessage(unsigned long code) {
    LPWSTR buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring_view text(buffer != nullptr ? buffer : L"", buffer != nullptr ? length : 0);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.remove_suffix(1);
    std::string utf8 = utf8Text(text);
    LocalFree(buffer);
    return utf8;
}

} // namespace quorvane

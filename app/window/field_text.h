// A value field's text as the window shows it and as assistive technology reads it: shown one
// space off the field's left edge, as the fields always were, and read without that space, which
// a screen reader would speak or a braille display show.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

inline constexpr char16_t FieldIndent = u' ';

inline std::u16string shownFieldText(const std::u16string& value) {
    return value.empty() ? std::u16string() : FieldIndent + value;
}

inline std::u16string_view spokenFieldText(std::u16string_view shown) {
    if (!shown.empty() && shown.front() == FieldIndent)
        shown.remove_prefix(1);
    return shown;
}

} // namespace quorvane

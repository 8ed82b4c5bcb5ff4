// Writes, as UTF-16LE to its standard output, the directory it runs from as the program finds
// it, a newline, and the firmware image path built from it. The tests copy it into directories
// with awkward names and compare.
#include "executable_directory.h"
#include "firmware_image.h"

#include <windows.h>

#include <string>

int main() {
    const auto directory = quorvane::executableDirectory();
    if (!directory)
        return 1;
    const std::wstring text = *directory + L"\n" + quorvane::firmwareImagePath(*directory).native();
    DWORD written = 0;
    const auto bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), bytes, &written, nullptr) ||
        written != bytes)
        return 2;
    return 0;
}

#include "history_file.h"

#include <cstdlib>

namespace quorvane {

std::filesystem::path defaultHistoryPath() {
    const std::filesystem::path inFolder = std::filesystem::path("quorvane") / "history.jsonl";
#ifdef _WIN32
    if (const wchar_t* local = ::_wgetenv(L"LOCALAPPDATA"); local != nullptr && *local != 0)
        return local / inFolder;
#else
    // A relative XDG_STATE_HOME is invalid and ignored, as the base directory rules say.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
        return state / inFolder;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        return std::filesystem::path(home) / ".local" / "state" / inFolder;
#endif
    return {};
}

const char* historyPlaceVariables() {
#ifdef _WIN32
    return "LOCALAPPDATA is";
#else
    return "XDG_STATE_HOME and HOME are";
#endif
}

} // namespace quorvane

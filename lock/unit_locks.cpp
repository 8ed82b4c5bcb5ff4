#include "unit_locks.h"

#include <cstdio>

namespace quorvane {

namespace {
// Where a key is longer, its hash alone tells it apart: the name stays far below the 255 bytes
// a file name may have.
constexpr std::size_t NamedPartMax = 120;
} // namespace

std::filesystem::path UnitLocks::fileFor(const std::string& unitKey) const {
    std::string name = "quorvane-unit-";
    std::uint64_t hash = 0xcbf29ce484222325U; // FNV-1a: the same in every build and program
    for (const char c : unitKey) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (name.size() < NamedPartMax)
            name += safe ? c : '_';
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3U;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return directory_ / (name + "-" + hex);
}

} // namespace quorvane

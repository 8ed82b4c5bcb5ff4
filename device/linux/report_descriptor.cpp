#include "report_descriptor.h"

#include <array>
#include <vector>

namespace quorvane {

namespace {

// An item starts with a prefix byte: bits 0-1 the data size (0, 1, 2 or 4 bytes), bits 2-3 the
// item type, bits 4-7 the tag. The prefix 0xFE starts a long item instead: a byte with the data
// size, a byte with the tag, then the data.
constexpr std::uint8_t LongItemPrefix = 0xFE;
constexpr std::array<std::size_t, 4> ShortItemDataSize{0, 1, 2, 4};

constexpr unsigned TypeMain = 0;
constexpr unsigned TypeGlobal = 1;

constexpr unsigned MainFeature = 0xB;

constexpr unsigned GlobalReportSize = 0x7;
constexpr unsigned GlobalReportId = 0x8;
constexpr unsigned GlobalReportCount = 0x9;
constexpr unsigned GlobalPush = 0xA;
constexpr unsigned GlobalPop = 0xB;

// The part of the global item state that decides report lengths. Push and Pop save and restore
// all of it, the report ID included.
struct GlobalState {
    std::uint32_t reportSize = 0;  // bits per field
    std::uint32_t reportCount = 0; // fields per main item
    std::uint8_t reportId = 0;     // 0 while the descriptor has declared no report ID
};

// The most data bits one report may hold so that, with its ID byte, it stays within
// MaxReportBytes.
constexpr std::uint64_t MaxReportDataBits = (std::uint64_t{MaxReportBytes} - 1) * 8;

FeatureLengthResult failure(std::size_t offset, const char* what) {
    return {std::nullopt, "report descriptor byte " + std::to_string(offset) + ": " + what};
}

} // namespace

FeatureLengthResult parseFeatureReportByteLength(std::span<const std::uint8_t> descriptor) {
    GlobalState global;
    std::vector<GlobalState> stack;
    // Data bits of each feature report, by report ID, and whether the report exists at all.
    std::array<std::uint64_t, 256> featureBits{};
    std::array<bool, 256> featureDeclared{};

    std::size_t pos = 0;
    while (pos < descriptor.size()) {
        const std::size_t itemStart = pos;
        const std::uint8_t prefix = descriptor[pos++];
        const std::size_t left = descriptor.size() - pos;

        if (prefix == LongItemPrefix) {
            // No long item tags are defined for reports; skip the item whole.
            if (left < 2)
                return failure(itemStart, "long item header runs past the end");
            const std::size_t dataSize = descriptor[pos];
            if (left - 2 < dataSize)
                return failure(itemStart, "long item data runs past the end");
            pos += 2 + dataSize;
            continue;
        }

        const std::size_t dataSize = ShortItemDataSize[prefix & 0x3U];
        if (left < dataSize)
            return failure(itemStart, "item data runs past the end");
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < dataSize; ++i)
            value |= static_cast<std::uint32_t>(descriptor[pos + i]) << (8 * i);
        pos += dataSize;

        const unsigned type = (prefix >> 2) & 0x3U;
        const unsigned tag = prefix >> 4;
        if (type == TypeMain && tag == MainFeature) {
            // Fits in 64 bits: both factors are below 2^32.
            const std::uint64_t bits = std::uint64_t{global.reportSize} * global.reportCount;
            std::uint64_t& total = featureBits[global.reportId];
            if (bits > MaxReportDataBits - total)
                return failure(itemStart, "feature report longer than 65535 bytes");
            total += bits;
            featureDeclared[global.reportId] = true;
        } else if (type == TypeGlobal) {
            switch (tag) {
            case GlobalReportSize:
                global.reportSize = value;
                break;
            case GlobalReportCount:
                global.reportCount = value;
                break;
            case GlobalReportId:
                if (value == 0 || value > 0xFF)
                    return failure(itemStart, "report ID outside 1..255");
                global.reportId = static_cast<std::uint8_t>(value);
                break;
            case GlobalPush:
                if (stack.size() == MaxGlobalStackDepth)
                    return failure(itemStart, "push nested too deep");
                stack.push_back(global);
                break;
            case GlobalPop:
                if (stack.empty())
                    return failure(itemStart, "pop without a matching push");
                global = stack.back();
                stack.pop_back();
                break;
            default:
                break; // usage page, logical and physical ranges, units: no bearing on length
            }
        }
        // Input and Output items, collections and local items do not change the result.
    }

    std::uint16_t longest = 0;
    for (std::size_t id = 0; id < featureBits.size(); ++id) {
        if (!featureDeclared[id])
            continue;
        const auto bytes = static_cast<std::uint16_t>((featureBits[id] + 7) / 8 + 1);
        if (bytes > longest)
            longest = bytes;
    }
    return {longest, {}};
}

} // namespace quorvane

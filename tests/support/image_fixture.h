// A virtual Tarvex that expects a firmware image of 50 records, and that image in a file.
#pragma once

#include "tarvex_fixture.h"
#include "temp_dir.h"

#include <cstring>

namespace quorvane::test {

inline constexpr std::size_t Records = 50; // 50 x 5055 twips overflows 16 bits: the bar needs 32

class ImageFixture : public TarvexFixture {
protected:
    ImageFixture() {
        writeFile(image, bytes);
        api.tarvex().config().expectedRecords = Records;
    }
    // The image's first `n` records arrived, once each, in order, byte for byte.
    void expectDelivered(std::size_t n) const {
        ASSERT_EQ(api.tarvex().records().size(), n);
        for (std::size_t k = 0; k < n; ++k)
            EXPECT_EQ(0, std::memcmp(api.tarvex().records()[k].data(), &bytes[k * RecordSize],
                                     RecordSize))
                << "record " << k + 1;
    }

    TempDir dir;
    std::filesystem::path image = dir.path() / "quorvane.bin";
    std::vector<std::uint8_t> bytes = imageBytes(Records * RecordSize);
};

inline bool isReport(const CallRecord& r) {
    return r.kind == CallKind::SetFeature || r.kind == CallKind::GetFeature;
}

} // namespace quorvane::test

// An unexpected error ends a command like any failure: one message, both handles closed once,
// and the upgrade's window unloads as after any upgrade.
#include "firmware_updater.h"
#include "forwarding_platform.h"
#include "tarvex_fixture.h"
#include "temp_dir.h"

#include <stdexcept>

namespace quorvane::test {
namespace {

// Throws instead of making its n-th enumeration or n-th feature report.
struct ThrowingPlatform final : ForwardingPlatform {
    ThrowingPlatform(HidPlatform& inner, int polls, int reports)
        : ForwardingPlatform(inner), polls(polls), reports(reports) {}
    std::vector<std::string> enumerateInterfaces() override {
        return --polls == 0 ? throw std::runtime_error("boom")
                            : ForwardingPlatform::enumerateInterfaces();
    }
    bool setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        return --reports == 0 ? throw std::runtime_error("boom")
                              : ForwardingPlatform::setFeature(h, b, n);
    }
    int polls, reports;
};

TEST_F(TarvexFixture, AnUnexpectedErrorAtAnyStepEndsTheCommandLikeAnyFailure) {
    TempDir dir;
    const std::filesystem::path image = dir.path() / "quorvane.bin";
    writeFile(image, imageBytes(20 * RecordSize));
    // The entry report, a poll of the wait, the unlock report, the 7th record; each command.
    for (const auto& [polls, reports] : {std::pair{0, 1}, {3, 0}, {0, 2}, {0, 9}}) {
        for (bool upgrade : {false, true}) {
            restartedInto(TarvexMode::Application);
            api.tarvex().config().statusBytes = {1, 0};
            ASSERT_TRUE(load());
            ThrowingPlatform thrower(api, polls, reports);
            DeviceContext c{thrower, window, state};
            window.messages.clear(), window.unloads = 0;
            upgrade ? FirmwareUpdater(c, image).upgrade()
                    : FirmwareUpdater(c, image).forceBootloader();
            if (thrower.polls > 0 || thrower.reports > 0)
                continue; // Force Bootloader Mode never reached that call
            ASSERT_EQ(window.messages.size(), 1U);
            EXPECT_NE(window.messages[0].find("unexpected error: boom"), std::string::npos);
            EXPECT_EQ(window.unloads, upgrade ? 1 : 0);
            expectHandlesBalanced();
        }
    }
}

} // namespace
} // namespace quorvane::test

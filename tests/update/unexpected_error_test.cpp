// An exception from the platform at any step of a command fails it like any other failure: one
// message, both handles closed once, and the upgrade's window unloads as after any upgrade.
#include "firmware_image.h"
#include "firmware_updater.h"
#include "forwarding_platform.h"
#include "tarvex_fixture.h"
#include "temp_dir.h"

#include <stdexcept>

namespace quorvane::test {
namespace {

// Throws instead of making the n-th call of one kind.
struct ThrowingPlatform final : ForwardingPlatform {
    ThrowingPlatform(HidPlatform& inner, CallKind kind, int n)
        : ForwardingPlatform(inner), kind(kind), left(n) {}
    void at(CallKind k) {
        if (k == kind && --left == 0)
            throw std::runtime_error("boom");
    }
    std::vector<std::string> enumerateInterfaces() override {
        return at(CallKind::Enumerate), ForwardingPlatform::enumerateInterfaces();
    }
    bool setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        return at(CallKind::SetFeature), ForwardingPlatform::setFeature(h, b, n);
    }
    bool getFeature(RawHandle h, std::uint8_t* b, std::size_t n) override {
        return at(CallKind::GetFeature), ForwardingPlatform::getFeature(h, b, n);
    }
    bool getString(RawHandle h, StringKind k, std::uint8_t* b, std::size_t n) override {
        return at(CallKind::GetString), ForwardingPlatform::getString(h, k, b, n);
    }
    CallKind kind;
    int left;
};

class UnexpectedError : public TarvexFixture,
                        public ::testing::WithParamInterface<std::pair<CallKind, int>> {};

TEST_P(UnexpectedError, EndsTheCommandLikeAnyFailure) {
    TempDir dir;
    writeFile(dir.path() / "quorvane.bin", imageBytes(20 * RecordSize));
    api.tarvex().config().statusBytes = {1, 0}; // the unlock report too
    for (bool upgrade : {false, true}) {
        ASSERT_TRUE(load());
        ThrowingPlatform thrower(api, GetParam().first, GetParam().second);
        DeviceContext c{thrower, window, state};
        FirmwareUpdater updater(c, dir.path() / "quorvane.bin");
        window.messages.clear();
        upgrade ? updater.upgrade() : updater.forceBootloader();
        if (!upgrade && thrower.left > 0)
            continue; // Force Bootloader Mode never reached that call
        ASSERT_EQ(window.messages.size(), 1U);
        EXPECT_NE(window.messages[0].find("unexpected error: boom"), std::string::npos);
        EXPECT_EQ(window.unloads, upgrade ? 1 : 0);
        expectHandlesBalanced();
        restartedInto(TarvexMode::Application);
    }
}

INSTANTIATE_TEST_SUITE_P(EachStep, UnexpectedError,
                         ::testing::Values(std::pair{CallKind::SetFeature, 1}, // the entry report
                                           std::pair{CallKind::Enumerate, 3},  // a wait's poll
                                           std::pair{CallKind::GetFeature, 1}, // the status
                                           std::pair{CallKind::GetString, 4},  // before the data
                                           std::pair{CallKind::SetFeature, 9}));

// A path that cannot be resolved is told as such, not as missing; replaced by one between the
// check and the transfer, it stops the transfer before any record goes out.
TEST_F(TarvexFixture, AnImagePathInALoopCannotBeRead) {
    TempDir dir;
    const std::filesystem::path image = dir.path() / "quorvane.bin";
    std::filesystem::create_symlink(image, image);
    const std::string told = checkFirmwareImage(image).problem.value_or("");
    EXPECT_NE(told.find("cannot be read: "), std::string::npos) << told;
    std::filesystem::remove(image);
    writeFile(image, imageBytes(4 * RecordSize));
    restartedInto(TarvexMode::Bootloader);
    ASSERT_TRUE(load());
    api.onSleep = [&](std::int64_t) {
        std::filesystem::remove(image);
        std::filesystem::create_symlink(image, image);
    };
    FirmwareUpdater(ctx(), image).upgrade();
    EXPECT_EQ(api.tarvex().recordsReceived(), 0);
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("cannot be read"), std::string::npos) << window.messages[0];
    expectHandlesBalanced();
}

} // namespace
} // namespace quorvane::test

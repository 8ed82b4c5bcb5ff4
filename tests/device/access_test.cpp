// Discovery notes a Tarvex it was not allowed to open: an interface whose enumerated product ID
// is the Tarvex's, in either mode, and whose open was refused for lack of access.
#include "discovery.h"
#include "forwarding_platform.h"

#include "tarvex_fixture.h"

#include <optional>

namespace quorvane::test {
namespace {

using AccessTest = TarvexFixture;

ForeignInterface denied(const std::string& path, std::uint16_t product,
                        OpenError error = OpenError::AccessDenied) {
    ForeignInterface f = foreign(path, 0x1209, product, false);
    f.openError = error;
    return f;
}

TEST_F(AccessTest, EnumerationTellsTheProductIdWithoutOpening) {
    api.foreignBefore = {denied("/dev/hidraw3", 0xB046)};
    EXPECT_EQ(api.enumeratedProductId("/dev/hidraw3"), std::optional<std::uint16_t>(0xB046));
    const auto paths = api.enumerateInterfaces();
    ASSERT_EQ(paths.size(), 2U);
    EXPECT_EQ(api.enumeratedProductId(paths[1]), std::optional<std::uint16_t>(0x2211));
    EXPECT_EQ(api.enumeratedProductId("/dev/hidraw9"), std::nullopt);
    // Nothing was opened to learn them.
    EXPECT_TRUE(calls(CallKind::Open).empty());

    api.tarvexAttached = false;
    EXPECT_EQ(api.enumeratedProductId(paths[1]), std::nullopt);
}

TEST_F(AccessTest, ADeniedTarvexInEitherModeIsRecorded) {
    api.tarvexAttached = false;
    for (const std::uint16_t product : {AppModeProductId, BootModeProductId}) {
        api.foreignBefore = {foreign("/dev/hidraw0", 0x046D, 0xC31C),
                             denied("/dev/hidraw1", product)};
        auto c = ctx();
        EXPECT_FALSE(FindTheHid(c)) << product;
        EXPECT_FALSE(state.DeviceFound);
        EXPECT_EQ(state.AccessDeniedPath, "/dev/hidraw1") << product;
        expectHandlesBalanced();
    }
}

TEST_F(AccessTest, OnlyTheTarvexsProductIdsAndOnlyADeniedAccessCount) {
    api.tarvexAttached = false;
    api.foreignBefore = {denied("/dev/hidraw0", 0xC31C),
                         denied("/dev/hidraw1", AppModeProductId, OpenError::NotFound),
                         denied("/dev/hidraw2", BootModeProductId, OpenError::Other),
                         denied("/dev/hidraw3", 0x2212)};
    auto c = ctx();
    EXPECT_FALSE(FindTheHid(c));
    EXPECT_EQ(state.AccessDeniedPath, "");
}

TEST_F(AccessTest, TheFirstDeniedTarvexIsKeptAndTheNoteIsRenewedByEveryDiscovery) {
    api.tarvexAttached = false;
    api.foreignBefore = {denied("/dev/hidraw4", BootModeProductId),
                         denied("/dev/hidraw5", AppModeProductId)};
    auto c = ctx();
    EXPECT_FALSE(FindTheHid(c));
    EXPECT_EQ(state.AccessDeniedPath, "/dev/hidraw4");

    // Access granted (the rule applied, the device re-plugged): the note goes.
    api.foreignBefore.clear();
    api.tarvexAttached = true;
    EXPECT_TRUE(FindTheHid(c));
    EXPECT_EQ(state.AccessDeniedPath, "");
    EXPECT_EQ(state.Attributes.ProductID, AppModeProductId);
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

TEST_F(AccessTest, ADeniedTarvexBeforeAnOpenOneIsNotedAndTheOpenOneIsFound) {
    api.foreignBefore = {denied("/dev/hidraw1", AppModeProductId)};
    auto c = ctx();
    EXPECT_TRUE(FindTheHid(c));
    EXPECT_EQ(state.AccessDeniedPath, "/dev/hidraw1");
    EXPECT_NE(state.DevicePath, "/dev/hidraw1");
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

// A backend that cannot tell product IDs before opening: discovery notes nothing, and finds
// the device as before.
class NoEnumeratedIds final : public ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    std::optional<std::uint16_t> enumeratedProductId(const std::string&) override {
        return std::nullopt;
    }
};

TEST_F(AccessTest, ABackendWithoutEnumeratedIdsNotesNothing) {
    NoEnumeratedIds plain(api);
    api.foreignBefore = {denied("/dev/hidraw1", AppModeProductId)};
    EXPECT_EQ(static_cast<HidPlatform&>(plain).enumeratedProductId("/dev/hidraw1"), std::nullopt);
    DeviceContext c{plain, window, state};
    EXPECT_TRUE(FindTheHid(c));
    EXPECT_EQ(state.AccessDeniedPath, "");
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

TEST_F(AccessTest, AWaitForTheDeviceKeepsTheNoteOfItsLastPoll) {
    // The device comes back in its bootloader on a node this user may not open; the wait goes
    // on, and every poll notes the denied interface.
    api.foreignAfter = {denied("/dev/hidraw7", BootModeProductId)};
    api.tarvexAttached = false;
    int polls = 0;
    window.onEvents = [&] {
        if (++polls == 5)
            window.closing = true;
    };
    auto c = ctx();
    EXPECT_EQ(WaitForDevice(c, WaitForm::Plain), WaitOutcome::WindowClosed);
    EXPECT_EQ(state.AccessDeniedPath, "/dev/hidraw7");
    EXPECT_FALSE(state.DeviceFound);
    expectHandlesBalanced();
}

} // namespace
} // namespace quorvane::test

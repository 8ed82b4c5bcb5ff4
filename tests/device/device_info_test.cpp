#include "device_info.h"

#include "discovery.h"
#include "tarvex_fixture.h"

namespace quorvane::test {
namespace {

using DeviceInfoTest = TarvexFixture;

TEST(VersionText, HighByteDecimalLowByteUpperCaseHex) {
    EXPECT_EQ(versionText(0x0100), " 1.0");
    EXPECT_EQ(versionText(0x0213), " 2.13");
    EXPECT_EQ(versionText(0x0A0B), " 10.B");
    EXPECT_EQ(versionText(0xFFFF), " 255.FF");
    EXPECT_EQ(versionText(0x0000), " 0.0");
}

TEST(DeviceStringText, DecodesUtf16WithinTheBuffer) {
    auto bytes = [](const std::u16string& s) {
        std::vector<std::uint8_t> b;
        for (char16_t u : s) {
            b.push_back(static_cast<std::uint8_t>(u & 0xFF));
            b.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        b.resize(100, 0);
        return b;
    };
    // U+0100 has a zero low byte: it must not end the text.
    auto b = bytes(u"\u0100d\u00e9 \u20ac \U0001F600");
    EXPECT_EQ(deviceStringText(b.data(), 100), "\u0100d\u00e9 \u20ac \U0001F600");
    // An unpaired surrogate becomes U+FFFD instead of a broken byte sequence.
    b = bytes(u"a\xD800"
              u"b");
    EXPECT_EQ(deviceStringText(b.data(), 100), "a\uFFFDb");
    // A full buffer without terminator stops at its end: 50 code units.
    b = bytes(std::u16string(60, u'x'));
    EXPECT_EQ(deviceStringText(b.data(), 100), std::string(50, 'x'));
    // A pair cut by the end of the buffer.
    std::u16string cut(49, u'y');
    cut += u"\U0001F600";
    b = bytes(cut);
    EXPECT_EQ(deviceStringText(b.data(), 100), std::string(49, 'y') + "\uFFFD");
}

TEST_F(DeviceInfoTest, NoDeviceClearsTheLabelsWithoutAnyCall) {
    window.labels[InfoLabel::Manufacturer] = "stale";
    auto c = ctx();
    ShowDeviceInfo(c);
    EXPECT_EQ(window.label(InfoLabel::Manufacturer), "");
    EXPECT_EQ(window.label(InfoLabel::Product), "");
    EXPECT_EQ(window.label(InfoLabel::SerialNumber), "");
    EXPECT_EQ(window.label(InfoLabel::Version), " ");
    EXPECT_TRUE(api.log().empty());
}

TEST_F(DeviceInfoTest, LabelsStartWithASpaceAndUseTheOverlappedHandle) {
    auto c = ctx();
    ASSERT_TRUE(FindTheHid(c));
    ShowDeviceInfo(c);
    EXPECT_EQ(window.label(InfoLabel::Manufacturer), " Tarvex Devices");
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex");
    EXPECT_EQ(window.label(InfoLabel::SerialNumber), " TX-000417");
    EXPECT_EQ(window.label(InfoLabel::Version), " 2.13");
    const auto strings = calls(CallKind::GetString);
    ASSERT_EQ(strings.size(), 3U);
    for (const auto& r : strings) {
        EXPECT_EQ(r.handle, state.OverlappedHandle.raw());
        EXPECT_EQ(r.length, 100U);
    }
    closeDeviceHandles(c);
}

TEST_F(DeviceInfoTest, AFailedManufacturerQueryLeavesManufacturerAndVersionStale) {
    auto c = ctx();
    ASSERT_TRUE(FindTheHid(c));
    ShowDeviceInfo(c);
    closeDeviceHandles(c);
    // The device comes back in its bootloader with a broken manufacturer string.
    api.tarvex().restart(clock.nowMs(), TarvexMode::Bootloader);
    clock.advance(1000);
    api.tarvex().config().faults.failManufacturer = true;
    ASSERT_TRUE(FindTheHid(c));
    ShowDeviceInfo(c);
    EXPECT_EQ(window.label(InfoLabel::Manufacturer), " Tarvex Devices");
    EXPECT_EQ(window.label(InfoLabel::Version), " 2.13"); // still the application's version
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex Bootloader");
    EXPECT_EQ(window.label(InfoLabel::SerialNumber), " TX-000417");
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

TEST_F(DeviceInfoTest, LongAndWideStringsAreShownAsTheDeviceSpellsThem) {
    auto& app = api.tarvex().config().application;
    app.manufacturer = u"\u0158\u00ed\u0161e \u0100 Works";
    app.product = std::u16string(80, u'P');
    auto c = ctx();
    ASSERT_TRUE(FindTheHid(c));
    ShowDeviceInfo(c);
    EXPECT_EQ(window.label(InfoLabel::Manufacturer), " \u0158\u00ed\u0161e \u0100 Works");
    EXPECT_EQ(window.label(InfoLabel::Product), " " + std::string(50, 'P'));
    closeDeviceHandles(c);
}

} // namespace
} // namespace quorvane::test

// The four value fields: the device's strings as it spells them, and its version.
#include "device_info.h"
#include "tarvex_fixture.h"

namespace quorvane::test {
namespace {

TEST(DeviceInfoText, VersionAndUtf16Decoding) {
    EXPECT_EQ(versionText(0x0A0B), u"10.B");
    // U+0100 has a zero low byte and must not end the text; pairs stay, lone halves become
    // U+FFFD, a pair cut by the buffer's end too; at most 50 code units. Then as UTF-8.
    struct Case {
        std::u16string in, out;
        std::string utf8;
    };
    for (const Case& c :
         {Case{u"\U0001F600\u0100d\u00e9", u"\U0001F600\u0100d\u00e9", "\U0001F600\u0100d\u00e9"},
          Case{u"a\xD800z\xDC00\u0080\u07FF\u0800\uFFFF", u"a\uFFFDz\uFFFD\u0080\u07FF\u0800\uFFFF",
               "a\uFFFDz\uFFFD\u0080\u07FF\u0800\uFFFF"},
          Case{std::u16string(60, u'x'), std::u16string(50, u'x'), std::string(50, 'x')},
          Case{std::u16string(49, u'y') + u"\U0010FFFF", std::u16string(49, u'y') + u"\uFFFD",
               std::string(49, 'y') + "\uFFFD"}}) {
        std::vector<std::uint8_t> b(100, 0);
        for (std::size_t i = 0; i < c.in.size() && i < 50; ++i)
            b[2 * i] = static_cast<std::uint8_t>(c.in[i]), b[2 * i + 1] = c.in[i] >> 8;
        EXPECT_EQ(deviceStringText(b.data(), b.size()), c.out);
        EXPECT_EQ(utf8Text(c.out), c.utf8);
    }
    EXPECT_EQ(utf8Text(u"\xDC00\xDC00\U00010000\xD800"), "\uFFFD\uFFFD\U00010000\uFFFD");
}

using DeviceInfoTest = TarvexFixture;

TEST_F(DeviceInfoTest, FieldsFromTheOverlappedHandleAFailedStringLeavesItsFieldAsItWas) {
    api.tarvex().config().application.product = std::u16string(60, u'P');
    auto show = [this] { // as load(), keeping the log
        closeHandles(), api.clearLog();
        auto x = ctx();
        FindAndShowDevice(x);
    };
    ASSERT_TRUE(load());
    const std::map<InfoLabel, std::string> shown = {{InfoLabel::Manufacturer, "Tarvex Devices"},
                                                    {InfoLabel::Product, std::string(50, 'P')},
                                                    {InfoLabel::SerialNumber, "TX-000417"},
                                                    {InfoLabel::Version, "2.13"}};
    EXPECT_EQ(window.labels, shown);
    for (bool TarvexFaults::*fault :
         {&TarvexFaults::failManufacturer, &TarvexFaults::failProduct,
          &TarvexFaults::failSerialNumber, &TarvexFaults::failOverlappedOpen}) {
        restartedInto(TarvexMode::Bootloader);
        api.tarvex().config().faults = {};
        api.tarvex().config().faults.*fault = true;
        show();
        const bool all = fault == &TarvexFaults::failOverlappedOpen; // still found, nothing read
        EXPECT_EQ(calls(CallKind::GetString).size(), all ? 0U : 3U);
        for (const auto& r : calls(CallKind::GetString))
            EXPECT_TRUE(r.handle == state.OverlappedHandle.raw() && r.length == 100U);
        const bool m = fault == &TarvexFaults::failManufacturer; // the version goes with it
        EXPECT_EQ(window.label(InfoLabel::Manufacturer), "Tarvex Devices");
        EXPECT_EQ(window.label(InfoLabel::Version), m || all ? "2.13" : "1.0");
        EXPECT_EQ(window.label(InfoLabel::Product) == std::string(50, 'P'),
                  all || fault == &TarvexFaults::failProduct);
        EXPECT_EQ(window.label(InfoLabel::SerialNumber), "TX-000417");
        restartedInto(TarvexMode::Application);
        api.tarvex().config().faults = {};
        load();
    }
    api.tarvexAttached = false; // no device: every field cleared, no call but the enumeration
    show();
    EXPECT_EQ(api.log().size(), 1U);
    for (const auto& [which, text] : window.labels)
        EXPECT_EQ(text, "");
    expectHandlesBalanced();
}

} // namespace
} // namespace quorvane::test

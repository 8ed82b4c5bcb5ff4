// The Linux backend's reading of udev, against a udev and sysfs tree mocked by umockdev (run
// under umockdev-wrapper): a Tarvex behind a USB parent, a uhid-style Tarvex with none, another
// vendor's device with a Tarvex product ID, and a node gone before it is opened. The hidraw
// ioctls themselves are tested in the VM.
#include "hidraw_platform.h"

#include "text_encoding.h"

#include <gtest/gtest.h>
#include <libudev.h>
#include <umockdev.h>

namespace quorvane::test {
namespace {

struct Testbed {
    UMockdevTestbed* bed = umockdev_testbed_new();
    ~Testbed() { g_object_unref(bed); }
    // A HID device (HID_ID bus:vendor:product) with its hidraw node, under `parent`.
    std::string hidraw(const char* parent, const char* hid, const char* id, const char* name,
                       const char* uniq, const char* node) {
        gchar* h =
            umockdev_testbed_add_device(bed, "hid", hid, parent, nullptr, "HID_ID", id, "HID_NAME",
                                        name, "HID_UNIQ", uniq, "HID_PHYS", hid, nullptr);
        gchar* r =
            umockdev_testbed_add_device(bed, "hidraw", node, h, "dev", "240:0", nullptr, "DEVNAME",
                                        (std::string("/dev/") + node).c_str(), nullptr);
        std::string syspath = r;
        g_free(h), g_free(r);
        return syspath;
    }
};

TEST(HidrawUdev, IdsStringsReleaseAndUnitFromUdevWithoutOpeningAnything) {
    Testbed t;
    gchar* usb =
        umockdev_testbed_add_device(t.bed, "usb", "1-2", nullptr, "manufacturer", "Tarvex Devices",
                                    "product", "Tarvex \xC3\xA9", "serial", "TX-000417",
                                    "bcdDevice", "0213", nullptr, "DEVTYPE", "usb_device", nullptr);
    gchar* usbInterface = umockdev_testbed_add_device(t.bed, "usb", "1-2:1.0", usb, nullptr,
                                                      "DEVTYPE", "usb_interface", nullptr);
    const std::string viaUsb =
        t.hidraw(usbInterface, "0003:1D50:2211.0001", "0003:00001D50:00002211",
                 "Tarvex Devices Tarvex", "", "hidraw0");
    const std::string uhid = t.hidraw(nullptr, "0003:1D50:B046.0002", "0003:00001D50:0000B046",
                                      "Tarvex Bootloader", "TX-1", "hidraw1");
    t.hidraw(nullptr, "0005:0483:2211.0003", "0005:00000483:00002211", "Other", "", "hidraw2");
    gchar* orphan = umockdev_testbed_add_device(t.bed, "hidraw", "hidraw9", nullptr, "dev", "240:9",
                                                nullptr, nullptr); // no HID parent: not listed
    g_free(usb), g_free(usbInterface), g_free(orphan);

    HidrawPlatform api;
    // In the order of their sysfs paths, as udev lists them.
    const std::vector<EnumeratedInterface> listing = api.enumerateInterfaces();
    std::vector<std::string> paths;
    for (const EnumeratedInterface& l : listing)
        paths.push_back(l.Path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/dev/hidraw1", "/dev/hidraw2", "/dev/hidraw0"}));
    struct Expected {
        const char *path, *manufacturer, *product, *serial, *unit;
        std::uint16_t vendor, productId, release;
    };
    auto listedAs = [&listing](const std::string& path) -> std::optional<EnumeratedInterface> {
        for (const EnumeratedInterface& l : listing)
            if (l.Path == path)
                return l;
        return std::nullopt;
    };
    udev* context = udev_new();
    for (const Expected& e : {Expected{"/dev/hidraw0", "Tarvex Devices", "Tarvex \xC3\xA9",
                                       "TX-000417", "/sys/devices/1-2", 0x1D50, 0x2211, 0x0213},
                              Expected{"/dev/hidraw1", "", "Tarvex Bootloader", "TX-1",
                                       "phys:0003:1D50:B046.0002", 0x1D50, 0xB046, 0},
                              Expected{"/dev/hidraw2", "", "Other", "", "phys:0005:0483:2211.0003",
                                       0x0483, 0x2211, 0}}) {
        const auto listed = listedAs(e.path);
        ASSERT_TRUE(listed) << e.path;
        EXPECT_EQ(std::tuple(listed->VendorID, listed->ProductID, listed->Unit,
                             utf8Text(listed->Product)),
                  std::tuple(e.vendor, e.productId, std::string(e.unit), std::string(e.product)));
        const std::string syspath = std::string(e.path) == "/dev/hidraw0"   ? viaUsb
                                    : std::string(e.path) == "/dev/hidraw1" ? uhid
                                                                            : std::string();
        if (syspath.empty())
            continue;
        const auto node = describeHidrawNode(context, syspath.c_str());
        ASSERT_TRUE(node);
        EXPECT_EQ(std::tuple(node->manufacturer, node->serialNumber, node->releaseNumber),
                  std::tuple(std::string(e.manufacturer), std::string(e.serial), e.release));
    }
    udev_unref(context);

    // Gone between the listing and the open: a failed open, nothing listed any more.
    umockdev_testbed_remove_device(t.bed, uhid.c_str());
    EXPECT_EQ(api.open("/dev/hidraw1", OpenMode::Plain).error, OpenError::NotFound);
    const auto left = api.enumerateInterfaces();
    ASSERT_EQ(left.size(), 2U);
    EXPECT_NE(left[0].Path, "/dev/hidraw1");
    EXPECT_NE(left[1].Path, "/dev/hidraw1");
}

} // namespace
} // namespace quorvane::test

// Discovery notes a Tarvex it was not allowed to open: an interface whose enumerated product ID
// is the Tarvex's, in either mode, and whose open was refused for lack of access.
#include "discovery.h"
#include "forwarding_platform.h"
#include "tarvex_fixture.h"

namespace quorvane::test {
namespace {

ForeignInterface denied(const std::string& path, std::uint16_t product,
                        OpenError error = OpenError::AccessDenied) {
    ForeignInterface f = foreign(path, 0x1209, product, false);
    return f.openError = error, f;
}

// A backend that cannot tell product IDs before opening.
struct NoEnumeratedIds final : ForwardingPlatform {
    using ForwardingPlatform::ForwardingPlatform;
    std::optional<std::uint16_t> enumeratedProductId(const std::string&) override { return {}; }
};

using AccessTest = TarvexFixture;

TEST_F(AccessTest, TheFirstDeniedTarvexIsNotedByEveryDiscovery) {
    struct Case {
        std::vector<ForeignInterface> before;
        bool attached;
        const char* noted;
    };
    for (const Case& c :
         {Case{{foreign("/k", 1, 0xC31C), denied("/a", AppModeProductId)}, false, "/a"},
          Case{{denied("/b", BootModeProductId), denied("/a", AppModeProductId)}, true, "/b"},
          Case{{denied("/x", 0xC31C), denied("/y", AppModeProductId, OpenError::NotFound),
                denied("/z", BootModeProductId, OpenError::Other)},
               false,
               ""},
          Case{{}, true, ""}}) {
        api.foreignBefore = c.before, api.tarvexAttached = c.attached;
        state.AccessDeniedPath = "stale";
        EXPECT_EQ(load(), c.attached);
        EXPECT_EQ(state.AccessDeniedPath, c.noted);
    }
    NoEnumeratedIds plain(api); // nothing noted, the device found as before
    DeviceContext x{plain, window, state};
    api.foreignBefore = {denied("/a", AppModeProductId)};
    closeHandles();
    EXPECT_TRUE(FindTheHid(x));
    EXPECT_EQ(state.AccessDeniedPath, "");
    closeHandles();
    expectHandlesBalanced();
}

} // namespace
} // namespace quorvane::test

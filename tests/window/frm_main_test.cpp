// The window's behaviour, once for both toolkits, against a recording view and the virtual
// Tarvex on a virtual clock. What the commands send and record is tested in tests/update.
#include "frmMain.h"

#include "forwarding_platform.h"

#include "tarvex_fixture.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace quorvane::test {
namespace {

// A view that records what it is asked to show and runs its timers on the virtual clock; a box
// runs `whileMessage` before it is acknowledged, as its own event loop would.
class RecordingView final : public WindowView {
public:
    explicit RecordingView(VirtualClock& clock) : clock_(clock) {}

    void attach(WindowEvents* events) override { events_ = events; }
    void show() override { note("show"); }
    void setFieldText(InfoLabel field, const std::u16string& text) override {
        fields[field] = utf8Text(text);
    }
    void setUpgradeCaption(const std::string& caption) override { captions.push_back(caption); }
    void setCommandsEnabled(bool upgrade, bool bootloader) override {
        buttons.emplace_back(upgrade, bootloader);
    }
    void announce(const std::string& text) override { announced.push_back(text); }
    void setBarVisible(bool visible) override { barVisible = visible; }
    void setBarWidth(float twips, double /*percent*/) override { barTwips = twips; }
    void repaintBar() override {}
    void processEvents() override {
        if (onEvents)
            onEvents();
        runDue();
    }
    void showMessage(const std::string& message) override {
        messages.push_back(message);
        if (whileMessage)
            whileMessage();
    }
    void showNotice(const std::string& message) override { notices.push_back(message); }
    bool askStop(const std::string& question) override {
        questions.push_back(question);
        return stopWhenAsked;
    }
    void later(int ms, std::function<void()> action) override {
        timers_.emplace(clock_.nowMs() + ms, std::move(action));
    }
    void watchInterfaces(int descriptor) override { watched = descriptor; }
    void closeWindow() override { note("closed"); }
    void requestClose() override {
        if (events_->closeAsked())
            note("closed");
    }
    void pressUpgrade() override { events_->btnUpgradeFW_Click(); }
    int run() override { return 0; }

    // Lets `ms` pass in steps of 10 ms, running the timers that come due.
    void idle(int ms) {
        for (int t = 0; t < ms; t += 10)
            clock_.advance(10), runDue();
    }
    bool closed() const { return closes == 1; }

    std::vector<std::string> messages, notices, questions, announced, captions;
    std::vector<std::pair<bool, bool>> buttons; // each setting: upgrade, bootloader
    std::map<InfoLabel, std::string> fields;
    bool barVisible = true, stopWhenAsked = true;
    float barTwips = -1;
    int watched = -2, closes = 0;
    std::function<void()> onEvents, whileMessage;
    std::function<void(const std::string&)> onCall;

private:
    void note(const std::string& call) {
        closes += call == "closed";
        if (onCall)
            onCall(call);
    }
    void runDue() {
        while (!timers_.empty() && timers_.begin()->first <= clock_.nowMs())
            timers_.extract(timers_.begin()).mapped()(); // out of the queue before it runs
    }
    VirtualClock& clock_;
    WindowEvents* events_ = nullptr;
    std::multimap<std::int64_t, std::function<void()>> timers_;
};

// A platform with a descriptor to watch: news comes only when the test gives it.
class WatchedPlatform final : public ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    std::unique_ptr<InterfaceWatch> watchInterfaces() override {
        struct Watch final : InterfaceWatch {
            explicit Watch(std::unique_ptr<InterfaceWatch> inner) : inner(std::move(inner)) {}
            int descriptor() const override { return 7; }
            bool changed() override { return inner->changed(); }
            std::unique_ptr<InterfaceWatch> inner;
        };
        return std::make_unique<Watch>(ForwardingPlatform::watchInterfaces());
    }
};

constexpr auto Upgrade = &frmMain::btnUpgradeFW_Click, Force = &frmMain::Command2_Click;

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        writeFile(image, imageBytes(4 * RecordSize));
        device.tarvex().config().expectedRecords = 4;
    }
    long enumerations() const {
        return std::ranges::count(device.log(), CallKind::Enumerate, &CallRecord::kind);
    }

    TempDir dir;
    const std::filesystem::path image = dir.path() / "quorvane.bin";
    VirtualClock clock;
    VirtualPlatform device{clock, defaultTarvexConfig()};
    RecordingView view{clock};
};

// The window closed in each phase of the load or a command, or while idle; both buttons clicked
// meanwhile are ignored. It closes only once what ran has returned, both handles closed first.
TEST_F(WindowTest, ClosingInEachPhaseWaitsForWhatRuns) {
    struct Case {
        const char* name;
        void (frmMain::*click)(); // none for the load alone
        const char* closeAt;      // "load", "idle", "wait", "transfer"; "end": the system asks
        bool stop;                // the answer when asked whether to stop
        std::size_t records;
        std::size_t questions;
    };
    const Case cases[] = {
        {"closed while loading", nullptr, "load", true, 0, 0},
        {"closed while idle", nullptr, "idle", true, 0, 0},
        {"bootloader closed while waiting", Force, "wait", true, 0, 0},
        {"upgrade closed while sending, Stop", Upgrade, "transfer", true, 2, 1},
        {"upgrade closed while sending, Continue", Upgrade, "transfer", false, 4, 1},
        {"upgrade ended by the system while sending", Upgrade, "end", false, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualPlatform api{clock, defaultTarvexConfig()};
        api.tarvex().config().expectedRecords = 4;
        RecordingView v{clock};
        v.stopWhenAsked = c.stop;
        auto w = std::make_unique<frmMain>(v, api, image);
        const std::string closeAt = c.closeAt;
        bool clicked = false, runningWhenClosed = true;
        int handlesWhenClosed = -1;
        v.onEvents = [&] {
            if (!clicked && (closeAt == "load" || api.tarvex().bootloaderEntries() == 1)) {
                clicked = true;
                w->btnUpgradeFW_Click();
                w->Command2_Click();
            }
            const bool now = (closeAt == "load") ||
                             (closeAt == "wait" && api.tarvex().bootloaderEntries() == 1) ||
                             (closeAt == "transfer" && api.tarvex().records().size() == 2);
            if (now && v.questions.empty())
                v.requestClose();
            if (closeAt == "end" && api.tarvex().records().size() == 2)
                w->endAsked();
        };
        v.onCall = [&](const std::string& call) {
            if (call == "closed")
                runningWhenClosed = w->commandRunning(), handlesWhenClosed = api.openHandles();
        };
        w->Form_Load();
        if (closeAt == "idle")
            v.requestClose();
        if (c.click)
            (*w.*c.click)();
        v.idle(AnnouncedCloseMs);
        EXPECT_EQ(api.tarvex().bootloaderEntries(), c.click ? 1 : 0);
        EXPECT_EQ(api.tarvex().records().size(), c.records);
        EXPECT_TRUE(w->unloaded());
        EXPECT_TRUE(v.closed());
        EXPECT_EQ(v.questions.size(), c.questions);
        EXPECT_TRUE(v.messages.empty());
        EXPECT_FALSE(runningWhenClosed);
        EXPECT_EQ(handlesWhenClosed, 0);
        EXPECT_TRUE(api.misuse().empty());
    }
}

// The load shows the window before it looks; a Tarvex this account may not open is explained in
// a box. While idle a burst of changes gives one discovery 300 ms after the last; a Tarvex it
// may not open is tried once more 1000 ms later, then explained once, in a notice.
TEST_F(WindowTest, LoadsAndFollowsTheDeviceWithOneDebounceAndOneRetry) {
    WatchedPlatform watched(device);
    auto w = std::make_unique<frmMain>(view, watched, image);
    device.tarvexAttached = false;
    device.foreignBefore = {foreign("/dev/hidraw2", 1, AppModeProductId, false)};
    long enumerationsWhenShown = -1;
    view.onCall = [&](const std::string& call) {
        if (call == "show")
            enumerationsWhenShown = enumerations();
    };
    w->Form_Load();
    EXPECT_EQ(enumerationsWhenShown, 0);
    EXPECT_FALSE(view.barVisible);
    EXPECT_EQ(view.watched, 7);
    w->btnUpgradeFW_Click(); // looks again, and tells the same
    ASSERT_EQ(view.messages.size(), 2U);
    for (const std::string& m : view.messages)
        EXPECT_EQ(m.rfind("A Tarvex is connected (/dev/hidraw2), but ", 0), 0U) << m;
    device.foreignBefore.clear();
    device.clearLog();
    device.tarvexAttached = true;
    w->interfacesChanged();
    view.idle(200);
    w->changeNewsReady(); // the platform's news of the same change
    view.idle(290);
    EXPECT_EQ(enumerations(), 0);
    view.idle(10);
    EXPECT_EQ(enumerations(), 1);
    const std::map<InfoLabel, std::string> shown{{InfoLabel::Manufacturer, " Tarvex Devices"},
                                                 {InfoLabel::Product, " Tarvex"},
                                                 {InfoLabel::Version, " 2.13"},
                                                 {InfoLabel::SerialNumber, " TX-000417"}};
    EXPECT_EQ(view.fields, shown);

    device.tarvexAttached = false;
    device.foreignAfter = {foreign("/dev/hidraw5", 1, AppModeProductId, false)};
    w->changeNewsReady();
    view.idle(300);
    EXPECT_EQ(enumerations(), 2);
    EXPECT_EQ(w->label(InfoLabel::Product), "");
    view.idle(990);
    EXPECT_EQ(enumerations(), 2);
    EXPECT_TRUE(view.notices.empty());
    view.idle(10);
    EXPECT_EQ(enumerations(), 3);
    view.idle(5000);
    EXPECT_EQ(enumerations(), 3);
    ASSERT_EQ(view.notices.size(), 1U);
    EXPECT_EQ(view.notices[0].rfind("A Tarvex is connected (/dev/hidraw5), but ", 0), 0U);
    EXPECT_EQ(view.messages.size(), 2U);
}

// Each command with the buttons it leaves usable and what assistive technology is told; neither
// button while it runs. A Tarvex plugged in while a box holds a window that stays: the fields
// stay as they are while the box is open, and show what is connected once it is acknowledged.
TEST_F(WindowTest, ButtonsWhileACommandRunsAndTheResultAnnounced) {
    using Buttons = std::pair<bool, bool>;
    struct Case {
        const char* name;
        void (frmMain::*click)();
        bool attached;
        int failDataReport;
        Buttons after;
        std::vector<std::string> announced;
        std::size_t messages;
        int closesAfterMs; // -1: stays open
    };
    const Buttons both{true, true}, none{false, false};
    const std::vector<std::string> inBootloader{
        "The Tarvex is in its bootloader mode. Product: Tarvex Bootloader. Version: 1.0."};
    const std::vector<std::string> upgraded{
        "Firmware update complete: the Tarvex runs its new firmware. The window closes."};
    const Case cases[] = {
        {"bootloader", Force, true, 0, both, inBootloader, 0, -1},
        {"upgrade", Upgrade, true, 0, none, upgraded, 0, 2000},
        {"bootloader refused: no Tarvex", Force, false, 0, both, {}, 1, -1},
        {"upgrade failed after sending", Upgrade, true, 2, none, {}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualPlatform api{clock, defaultTarvexConfig()};
        api.tarvex().config().expectedRecords = 4;
        api.tarvex().config().faults.failDataReport = c.failDataReport;
        api.tarvexAttached = c.attached;
        RecordingView v{clock};
        auto w = std::make_unique<frmMain>(v, api, image);
        w->Form_Load();
        ASSERT_TRUE(v.buttons.empty()); // usable from the start
        std::vector<Buttons> whileRunning;
        std::string whileOpen = "?";
        v.onEvents = [&] { whileRunning.push_back(v.buttons.back()); };
        v.whileMessage = [&] {
            whileRunning.push_back(v.buttons.back());
            if (c.closesAfterMs >= 0)
                return;
            api.tarvexAttached = true;
            v.idle(1000); // polled and settled meanwhile
            whileOpen = w->label(InfoLabel::Product);
        };
        (*w.*c.click)();
        ASSERT_FALSE(whileRunning.empty());
        EXPECT_EQ(std::ranges::count(whileRunning, none), std::ssize(whileRunning));
        EXPECT_EQ(v.buttons.front(), none);
        EXPECT_EQ(v.buttons.back(), c.after);
        EXPECT_EQ(v.announced, c.announced);
        EXPECT_EQ(v.messages.size(), c.messages);
        if (c.messages > 0 && c.closesAfterMs < 0) {
            EXPECT_EQ(whileOpen, "");
            EXPECT_EQ(v.fields[InfoLabel::Product], " Tarvex");
        }
        if (c.closesAfterMs > 0) {
            EXPECT_EQ(v.captions.back(), "Update complete");
            v.idle(c.closesAfterMs - 10);
            EXPECT_FALSE(v.closed());
            EXPECT_TRUE(w->unloaded()); // the device's handles are closed meanwhile
            EXPECT_EQ(api.openHandles(), 0);
            EXPECT_EQ(v.barTwips, 5055); // the bar full meanwhile
        }
        v.idle(10);
        EXPECT_EQ(v.closed(), c.closesAfterMs >= 0);
        v.onEvents = nullptr;
        w.reset(); // a window destroyed without closing closes the handles too
        EXPECT_EQ(api.openHandles(), 0);
    }
}

} // namespace
} // namespace quorvane::test

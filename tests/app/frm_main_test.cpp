// The window on the offscreen platform: its layout against the twip table, its life cycle on
// the virtual Tarvex, what closing it does to the device handles, and its progress bar as shown
// and as read out.
#include "window_test.h"

#include "app_identity.h"

#include <QAccessible>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <set>

namespace quorvane::test {
namespace {

// The layout in twips, as the window's designer drew it.
struct Placement {
    const char* name;
    const char* parent;
    int left, top, width, height;
};
const Placement Layout[] = {
    {"Frame1", "frmMain", 120, 0, 5175, 1695},
    {"Label3", "Frame1", 120, 1320, 1455, 285},
    {"Label4", "Frame1", 120, 240, 1215, 285},
    {"Label5", "Frame1", 120, 600, 1215, 285},
    {"Label2", "Frame1", 120, 960, 1455, 285},
    {"lblManuf", "Frame1", 1560, 240, 3540, 330},
    {"lblProduct", "Frame1", 1560, 600, 3540, 330},
    {"lblVersion", "Frame1", 1560, 960, 3540, 330},
    {"lblSerialNumber", "Frame1", 1560, 1320, 3480, 330},
    {"btnUpgradeFW", "frmMain", 840, 2280, 3735, 495},
    {"Command2", "frmMain", 840, 2940, 3735, 495},
    {"Pic", "frmMain", 180, 1920, 5055, 75},
    {"Picture1", "frmMain", 120, 1860, 5175, 195},
};

// Notes how many calls had reached the device when the window was first shown, and whether a
// command was running when it was hidden.
class ShowWatch final : public QObject {
public:
    explicit ShowWatch(const VirtualPlatform& device) : device_(device) {}
    std::size_t callsAtShow = SIZE_MAX;
    bool hiddenWhileCommandRuns = false;

protected:
    bool eventFilter(QObject* window, QEvent* event) override {
        if (event->type() == QEvent::Show && callsAtShow == SIZE_MAX)
            callsAtShow = device_.log().size();
        if (event->type() == QEvent::Hide)
            hiddenWhileCommandRuns |= static_cast<frmMain*>(window)->commandRunning();
        return false;
    }

private:
    const VirtualPlatform& device_;
};

class FrmMainTest : public WindowTest {
protected:
    FrmMainTest() {
        window->installEventFilter(&showWatch);
        window->setTraceHook([this](const std::string& line) { trace.push_back(line); });
    }

    QString text(const char* name) const {
        if (auto* label = window->findChild<QLabel*>(QString::fromLatin1(name)))
            return label->text();
        return control<QPushButton>(name)->text();
    }
    std::size_t calls(CallKind kind) const {
        return std::count_if(device.log().begin(), device.log().end(),
                             [kind](const CallRecord& r) { return r.kind == kind; });
    }
    std::ptrdiff_t traceIndex(const std::string& line) const {
        return std::find(trace.begin(), trace.end(), line) - trace.begin();
    }
    bool traced(const std::string& line) const { return traceIndex(line) < std::ssize(trace); }
    // Closes the window from the event loop when the running command first pauses.
    void closeAtFirstPause() {
        device.onSleep = [this](std::int64_t) {
            if (!closePosted)
                QTimer::singleShot(0, window.get(), [w = window.get()] { w->close(); });
            closePosted = true;
        };
    }
    void click(const char* button) { control<QPushButton>(button)->click(); }

    ShowWatch showWatch{device};
    std::vector<std::string> trace;
    bool closePosted = false;
};

// ---- Layout, captions, fonts, colours, order -------------------------------------------------

TEST_F(FrmMainTest, EveryControlSitsAtItsTwipPositionInTabOrderInTheFixedClientArea) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Firmware Update"));
    EXPECT_EQ(window->size(), QSize(5415 / 15, 3675 / 15));
    EXPECT_EQ(window->minimumSize(), window->size());
    EXPECT_EQ(window->maximumSize(), window->size());
    std::vector<std::string> order;
    for (const Placement& p : Layout) {
        order.push_back(p.name);
        QWidget* widget = control(p.name);
        ASSERT_NE(widget, nullptr);
        ASSERT_NE(widget->parentWidget(), nullptr) << p.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.parent)) << p.name;
        EXPECT_EQ(widget->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15))
            << p.name;
    }
    // The focus chain runs in the table's order.
    const std::set<std::string> named(order.begin(), order.end());
    std::vector<std::string> chain;
    QWidget* w = control("Frame1");
    do {
        if (named.count(w->objectName().toStdString()) != 0)
            chain.push_back(w->objectName().toStdString());
        w = w->nextInFocusChain();
    } while (w != control("Frame1") && chain.size() <= order.size());
    EXPECT_EQ(chain, order);
    EXPECT_EQ(twipsToPixels(7.4), 0);
    EXPECT_EQ(twipsToPixels(7.5), 1);
    EXPECT_EQ(twipsToPixels(5055), 337);
    // The bar's frame lies behind the bar (children run bottom to top).
    const QObjectList& stack = window->children();
    EXPECT_LT(std::find(stack.begin(), stack.end(), control("Picture1")),
              std::find(stack.begin(), stack.end(), control("Pic")));
}

TEST_F(FrmMainTest, CaptionsFontsAndColoursAreAsDrawn) {
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Upgrade Firmware"));
    EXPECT_EQ(text("Command2"), QStringLiteral("Force Bootloader Mode"));
    EXPECT_TRUE(control<QGroupBox>("Frame1")->title().isEmpty());
    std::vector<const char*> written{"btnUpgradeFW", "Command2"};
    for (const Field& f : Fields) {
        EXPECT_EQ(text(f.rowLabel), QString::fromLatin1(f.rowName));
        EXPECT_TRUE(text(f.name).isEmpty()) << f.name;
        // Fields read as fields, row labels lie on the window.
        QWidget* field = control(f.name);
        EXPECT_TRUE(field->autoFillBackground()) << f.name;
        EXPECT_EQ(field->backgroundRole(), QPalette::Base) << f.name;
        EXPECT_EQ(field->foregroundRole(), QPalette::Text) << f.name;
        EXPECT_FALSE(control(f.rowLabel)->autoFillBackground()) << f.rowLabel;
        EXPECT_EQ(control(f.rowLabel)->backgroundRole(), QPalette::Window) << f.rowLabel;
        written.insert(written.end(), {f.name, f.rowLabel});
    }
    for (const char* name : written) {
        const QFont font = control(name)->font();
        EXPECT_EQ(font.family(), QStringLiteral("MS Sans Serif")) << name;
        EXPECT_DOUBLE_EQ(font.pointSizeF(), 9.75) << name;
        EXPECT_EQ(font.weight(), QFont::Normal) << name;
        EXPECT_FALSE(font.italic()) << name;
    }
    QWidget* pic = control("Pic");
    EXPECT_TRUE(pic->autoFillBackground());
    EXPECT_EQ(pic->palette().color(pic->backgroundRole()), QColor(128, 128, 255));
}

// ---- Form_Load -------------------------------------------------------------------------------

TEST_F(FrmMainTest, WithoutDeviceLoadShowsTheWindowFirstAndClicksAndClosingTouchNothing) {
    device.tarvexAttached = false;
    writeImage(2);
    window->Form_Load();
    EXPECT_EQ(showWatch.callsAtShow, 0U); // shown before discovery asked anything
    EXPECT_EQ(calls(CallKind::Enumerate), 1U);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(control("Pic")->isHidden());
    EXPECT_FALSE(window->state().DeviceFound);
    for (const Field& f : Fields) // "Version" reads " " with no device
        EXPECT_EQ(text(f.name), f.name == std::string("lblVersion") ? " " : "") << f.name;

    device.clearLog();
    click("btnUpgradeFW");
    click("Command2");
    EXPECT_TRUE(device.log().empty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->unloaded());
    EXPECT_TRUE(control("btnUpgradeFW")->isEnabled());
    EXPECT_TRUE(control("Command2")->isEnabled());
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Upgrade Firmware"));
    EXPECT_TRUE(messages.empty());

    window->close();
    window.reset();
    EXPECT_TRUE(device.log().empty()); // no handle to close
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_TRUE(device.misuse().empty());
}

TEST_F(FrmMainTest, LoadWithTheTarvexFillsTheFieldsAndForceBootloaderLeavesTheWindowOpen) {
    device.foreignBefore.push_back({"virtual:keyboard", {0x046D, 0xC31C, 0x0110}, true});
    window->Form_Load();
    EXPECT_EQ(showWatch.callsAtShow, 0U);
    EXPECT_TRUE(window->state().DeviceFound);
    EXPECT_EQ(window->state().Attributes.ProductID, 0x2211);
    for (const Field& f : Fields)
        EXPECT_EQ(text(f.name), QString::fromLatin1(f.shown)) << f.name;
    EXPECT_TRUE(control("Pic")->isHidden());
    EXPECT_EQ(device.openHandles(), 2);

    click("Command2");
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->unloaded());
    EXPECT_EQ(window->state().Attributes.ProductID, 0xB046);
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Upgrade Firmware"));
    EXPECT_TRUE(control("btnUpgradeFW")->isEnabled());
    EXPECT_EQ(device.openHandles(), 2);
}

// ---- Closing and destruction -----------------------------------------------------------------

// close(), unload() with no command running, or destruction alone: each closes both handles,
// and nothing closes them again.
TEST_F(FrmMainTest, ClosingUnloadingOrDestructionClosesBothHandlesOnce) {
    for (const std::string way : {"close", "unload", "destruction"}) {
        SCOPED_TRACE(way);
        window = std::make_unique<frmMain>(device, image);
        window->Form_Load();
        const std::vector<RawHandle> opened{window->state().HidHandle.raw(),
                                            window->state().OverlappedHandle.raw()};
        device.clearLog();
        if (way == "close") {
            EXPECT_TRUE(window->close());
        } else if (way == "unload") {
            window->unload();
        }
        if (way != "destruction") {
            EXPECT_TRUE(window->unloaded());
            EXPECT_FALSE(window->isVisible());
            EXPECT_EQ(device.log().size(), 2U); // at once
            window->close();
        }
        window.reset(); // Form_Terminate
        std::vector<RawHandle> closed;
        for (const CallRecord& r : device.log())
            closed.push_back(r.kind == CallKind::Close ? r.handle : 0);
        EXPECT_EQ(closed, opened);
        EXPECT_EQ(device.openHandles(), 0);
        EXPECT_TRUE(device.misuse().empty());
    }
}

// ---- The window seam -------------------------------------------------------------------------

TEST_F(FrmMainTest, LabelsCaptionEnabledStateAndMessagesGoToTheControls) {
    window->setLabel(InfoLabel::Product, " Gerät \xE2\x9C\x93");
    EXPECT_EQ(text("lblProduct"), QStringLiteral(" Gerät ✓"));
    EXPECT_EQ(window->label(InfoLabel::Product), " Gerät \xE2\x9C\x93");
    window->setLabel(InfoLabel::SerialNumber, "S1");
    EXPECT_EQ(text("lblSerialNumber"), QStringLiteral("S1"));
    EXPECT_TRUE(text("lblManuf").isEmpty());

    window->setUpgradeCaption("Finishing...");
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Finishing..."));
    window->setUpgradeEnabled(false);
    EXPECT_FALSE(control("btnUpgradeFW")->isEnabled());
    EXPECT_TRUE(control("Command2")->isEnabled());

    // A repeated value is no change and is not traced again.
    window->setLabel(InfoLabel::SerialNumber, "S1");
    window->setUpgradeEnabled(false);
    window->tellUser("The firmware image is empty.");
    EXPECT_EQ(messages, std::vector<std::string>{"The firmware image is empty."});
    const std::vector<std::string> expected{
        "lblProduct = \" Gerät \xE2\x9C\x93\"", "lblSerialNumber = \"S1\"",
        "btnUpgradeFW caption = \"Finishing...\"", "btnUpgradeFW disabled",
        "message: The firmware image is empty."};
    EXPECT_EQ(trace, expected);
}

TEST_F(FrmMainTest, TheBarIsTwipsRoundedToPixelsAndReadsOutAsAPercentage) {
    device.tarvexAttached = false;
    window->Form_Load();
    QWidget* pic = control("Pic");
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(pic);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
    EXPECT_EQ(bar->text(QAccessible::Name), QStringLiteral("Firmware update progress"));
    EXPECT_TRUE(bar->state().invisible); // hidden until a transfer starts
    QAccessibleValueInterface* value = bar->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->minimumValue().toDouble(), 0.0);
    EXPECT_EQ(value->maximumValue().toDouble(), 100.0);
    EXPECT_EQ(value->currentValue().toDouble(), 0.0);
    window->setProgressVisible(true);
    EXPECT_TRUE(pic->isVisible());
    EXPECT_FALSE(bar->state().invisible);

    window->setProgressWidth(2527.5F); // 168.5 pixels
    EXPECT_EQ(pic->width(), 169);
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), 50.0);
    EXPECT_EQ(bar->text(QAccessible::Value), QStringLiteral("50%"));
    window->setProgressWidth(1263.75F); // 84.25 pixels
    EXPECT_EQ(pic->width(), 84);
    window->setProgressWidth(5055.0F);
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), 100.0);
    value->setCurrentValue(20.0); // nobody but the transfer moves the bar
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), 100.0);
    window->setProgressWidth(0.0F);
    EXPECT_EQ(pic->width(), 0);
    EXPECT_EQ(bar->text(QAccessible::Value), QStringLiteral("0%"));
    EXPECT_EQ(pic->geometry().topLeft(), QPoint(12, 128));
    EXPECT_EQ(pic->height(), 5);
    EXPECT_EQ(window->state().ProgressFullWidth, 5055);
    EXPECT_TRUE(traced("Pic shown"));
    EXPECT_TRUE(traced("Pic width = 2527.5 twips (50%)"));
    EXPECT_TRUE(traced("Pic width = 1263.8 twips (25%)"));
    window->repaintProgress(); // paints at once, offscreen too
}

// ---- Commands through the window -------------------------------------------------------------

TEST_F(FrmMainTest, UpgradeRunsToTheEndThenUnloadsAfterTheClickReturns) {
    writeImage(4);
    window->Form_Load();
    QAccessibleValueInterface* value =
        QAccessible::queryAccessibleInterface(control("Pic"))->valueInterface();
    // Each width the bar took, in pixels as shown and in percent as read out.
    std::vector<std::pair<int, double>> bar;
    bool visibleAtUnload = false;
    window->setTraceHook([&](const std::string& line) {
        trace.push_back(line);
        if (line.rfind("Pic width = ", 0) == 0)
            bar.emplace_back(control("Pic")->width(), value->currentValue().toDouble());
        if (line == "unload")
            visibleAtUnload = window->isVisible();
    });

    click("btnUpgradeFW");

    EXPECT_EQ(device.tarvex().records().size(), 4U);
    EXPECT_TRUE(visibleAtUnload);
    EXPECT_FALSE(showWatch.hiddenWhileCommandRuns);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_TRUE(device.misuse().empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(control("btnUpgradeFW")->isEnabled());
    // Reset at the start, a quarter more per record, reset when it is finishing.
    const std::vector<std::pair<int, double>> expected{{0, 0.0},    {84, 25.0},   {169, 50.0},
                                                       {253, 75.0}, {337, 100.0}, {0, 0.0}};
    EXPECT_EQ(bar, expected);
    EXPECT_LT(traceIndex("btnUpgradeFW disabled"),
              traceIndex("btnUpgradeFW caption = \"Switching to bootloader...\""));
    EXPECT_LT(traceIndex("btnUpgradeFW caption = \"Updating firmware...\""),
              traceIndex("btnUpgradeFW caption = \"Finishing...\""));
    EXPECT_LT(traceIndex("btnUpgradeFW caption = \"Finishing...\""), traceIndex("unload"));

    // A later click on the closed window does nothing.
    device.clearLog();
    click("Command2");
    EXPECT_TRUE(device.log().empty());
}

TEST_F(FrmMainTest, CloseDuringAnUpgradeWaitsForItToStop) {
    writeImage(3);
    window->Form_Load();
    closeAtFirstPause();
    bool visibleAtUnload = false;
    window->setTraceHook([&](const std::string& line) {
        trace.push_back(line);
        if (line == "unload")
            visibleAtUnload = window->isVisible();
    });
    click("btnUpgradeFW");

    ASSERT_TRUE(closePosted);
    EXPECT_TRUE(window->closeRequested());
    EXPECT_LT(traceIndex("close requested while a command runs"), traceIndex("unload"));
    EXPECT_TRUE(visibleAtUnload); // the handler was still on the stack
    EXPECT_FALSE(showWatch.hiddenWhileCommandRuns);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->unloaded());
    EXPECT_TRUE(device.tarvex().records().empty());
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_TRUE(device.misuse().empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(FrmMainTest, CloseDuringForceBootloaderStopsItAndThenCloses) {
    window->Form_Load();
    closeAtFirstPause();
    std::size_t callsAtCloseRequest = 0;
    window->setTraceHook([&](const std::string& line) {
        if (line == "close requested while a command runs")
            callsAtCloseRequest = device.log().size();
    });
    click("Command2");

    ASSERT_TRUE(closePosted);
    ASSERT_GT(callsAtCloseRequest, 0U);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
    // The command looked for the device no more once the close was asked for.
    for (std::size_t i = callsAtCloseRequest; i < device.log().size(); ++i)
        EXPECT_NE(device.log()[i].kind, CallKind::Enumerate) << "call " << i;
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_TRUE(device.misuse().empty());
}

// ---- Identity --------------------------------------------------------------------------------

TEST(ApplicationIdentity, NameVersionAndIcon) {
    applyApplicationIdentity();
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("quorvane"));
    EXPECT_EQ(QCoreApplication::applicationVersion(), QStringLiteral("1.01.0001"));
    // No display name of our own: the platform would append it to the window caption.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("quorvane"));
    EXPECT_STREQ(ApplicationTitle, "Tarvex firmware");
    EXPECT_STREQ(ApplicationDescription, "Tarvex firmware update");

    const QList<QSize> sizes = QApplication::windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    for (const char* file : {":/icons/quorvane-32.xpm", ":/icons/quorvane-16.xpm"}) {
        const QImage image = QPixmap(QString::fromLatin1(file)).toImage();
        ASSERT_FALSE(image.isNull()) << file;
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        EXPECT_LE(colours.size(), 16U) << file;
        EXPECT_GT(colours.size(), 3U) << file;
    }
}

} // namespace
} // namespace quorvane::test

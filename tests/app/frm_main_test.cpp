// The window on the offscreen platform: its layout against the twip table, its life cycle on
// the virtual Tarvex, and what closing it does to the device handles.
#include "frmMain.h"

#include "app_identity.h"
#include "clock.h"
#include "command_codes.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using quorvane::CallKind;
using quorvane::InfoLabel;

// The layout in twips, as the window's designer drew it.
struct Placement {
    const char* name;
    const char* parent;
    int left;
    int top;
    int width;
    int height;
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

QRect pixels(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

quorvane::TarvexConfig tarvexConfig() {
    quorvane::TarvexConfig c = quorvane::defaultTarvexConfig();
    c.enterBootloaderCode = quorvane::EnterBootloaderCode;
    c.unlockCode = quorvane::UnlockCode;
    return c;
}

// Passes every call to the virtual platform, and notes whether the window was on screen when
// discovery first enumerated the interfaces.
class ObservingPlatform final : public quorvane::HidPlatform {
public:
    explicit ObservingPlatform(quorvane::VirtualPlatform& inner) : inner_(inner) {}

    const QWidget* window = nullptr;
    int enumerations = 0;
    bool visibleAtFirstEnumeration = false;

    std::vector<std::string> enumerateInterfaces() override {
        if (enumerations++ == 0)
            visibleAtFirstEnumeration = window != nullptr && window->isVisible();
        return inner_.enumerateInterfaces();
    }
    quorvane::OpenResult open(const std::string& path, quorvane::OpenMode mode) override {
        return inner_.open(path, mode);
    }
    bool close(quorvane::RawHandle handle) override { return inner_.close(handle); }
    bool getAttributes(quorvane::RawHandle handle, quorvane::HidAttributes& a) override {
        return inner_.getAttributes(handle, a);
    }
    bool getCapabilities(quorvane::RawHandle handle, quorvane::HidCapabilities& c) override {
        return inner_.getCapabilities(handle, c);
    }
    bool setFeature(quorvane::RawHandle handle, const std::uint8_t* buffer,
                    std::size_t length) override {
        return inner_.setFeature(handle, buffer, length);
    }
    bool getFeature(quorvane::RawHandle handle, std::uint8_t* buffer, std::size_t length) override {
        return inner_.getFeature(handle, buffer, length);
    }
    bool getString(quorvane::RawHandle handle, quorvane::StringKind kind, std::uint8_t* buffer,
                   std::size_t length) override {
        return inner_.getString(handle, kind, buffer, length);
    }
    void sleep(int milliseconds) override { inner_.sleep(milliseconds); }
    std::int64_t nowMs() override { return inner_.nowMs(); }

private:
    quorvane::VirtualPlatform& inner_;
};

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : device(clock, tarvexConfig()), api(device) {
        image = dir.path() / "quorvane.bin";
        window = std::make_unique<frmMain>(api, image);
        api.window = window.get();
        window->setTraceHook([this](const std::string& line) { trace.push_back(line); });
        window->setNotifier([this](const std::string& message) { messages.push_back(message); });
    }

    template <typename T = QWidget> T* control(const char* name) const {
        auto* widget = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString text(const char* name) const {
        if (auto* label = window->findChild<QLabel*>(QString::fromLatin1(name)))
            return label->text();
        return control<QPushButton>(name)->text();
    }
    std::vector<quorvane::CallRecord> calls(CallKind kind) const {
        std::vector<quorvane::CallRecord> out;
        std::copy_if(device.log().begin(), device.log().end(), std::back_inserter(out),
                     [kind](const quorvane::CallRecord& r) { return r.kind == kind; });
        return out;
    }
    void writeImage(int records) {
        quorvane::test::writeFile(
            image, quorvane::test::imageBytes(static_cast<std::size_t>(records) * 40U));
        device.tarvex().config().expectedRecords = records;
    }
    bool traced(const std::string& line) const {
        return std::find(trace.begin(), trace.end(), line) != trace.end();
    }
    std::ptrdiff_t traceIndex(const std::string& line) const {
        return std::find(trace.begin(), trace.end(), line) - trace.begin();
    }

    quorvane::test::TempDir dir;
    std::filesystem::path image;
    quorvane::VirtualClock clock;
    quorvane::VirtualPlatform device;
    ObservingPlatform api;
    std::unique_ptr<frmMain> window;
    std::vector<std::string> trace;
    std::vector<std::string> messages;
};

// ---- Layout, captions, fonts, colours, order -------------------------------------------------

TEST_F(WindowTest, ClientAreaIsFixedAtItsTwipSize) {
    EXPECT_EQ(window->objectName(), QStringLiteral("frmMain"));
    EXPECT_EQ(window->size(), QSize(5415 / 15, 3675 / 15));
    EXPECT_EQ(window->minimumSize(), window->size());
    EXPECT_EQ(window->maximumSize(), window->size());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Firmware Update"));
}

TEST_F(WindowTest, EveryControlSitsAtItsTwipPositionInItsParent) {
    for (const Placement& p : Layout) {
        QWidget* widget = control(p.name);
        ASSERT_NE(widget, nullptr);
        ASSERT_NE(widget->parentWidget(), nullptr) << p.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.parent)) << p.name;
        EXPECT_EQ(widget->geometry(), pixels(p.left, p.top, p.width, p.height)) << p.name;
    }
    EXPECT_EQ(twipsToPixels(7.4), 0);
    EXPECT_EQ(twipsToPixels(7.5), 1);
    EXPECT_EQ(twipsToPixels(5055), 337);
}

TEST_F(WindowTest, CaptionsAreAsDrawnAndValueLabelsStartEmpty) {
    EXPECT_EQ(text("Label3"), QStringLiteral("Serial Number"));
    EXPECT_EQ(text("Label4"), QStringLiteral("Manufacturer"));
    EXPECT_EQ(text("Label5"), QStringLiteral("Product"));
    EXPECT_EQ(text("Label2"), QStringLiteral("Version"));
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Upgrade Firmware"));
    EXPECT_EQ(text("Command2"), QStringLiteral("Force Bootloader Mode"));
    for (const char* name : {"lblManuf", "lblProduct", "lblVersion", "lblSerialNumber"})
        EXPECT_TRUE(text(name).isEmpty()) << name;
    EXPECT_TRUE(control<QGroupBox>("Frame1")->title().isEmpty());
}

TEST_F(WindowTest, ButtonsAndLabelsUseTheDesignFont) {
    for (const char* name : {"Label2", "Label3", "Label4", "Label5", "lblManuf", "lblProduct",
                             "lblVersion", "lblSerialNumber", "btnUpgradeFW", "Command2"}) {
        const QFont font = control(name)->font();
        EXPECT_EQ(font.family(), QStringLiteral("MS Sans Serif")) << name;
        EXPECT_DOUBLE_EQ(font.pointSizeF(), 9.75) << name;
        EXPECT_EQ(font.weight(), QFont::Normal) << name;
        EXPECT_FALSE(font.italic()) << name;
    }
}

TEST_F(WindowTest, ValueLabelsReadAsFieldsAndTheBarIsBlue) {
    for (const char* name : {"lblManuf", "lblProduct", "lblVersion", "lblSerialNumber"}) {
        QWidget* label = control(name);
        EXPECT_TRUE(label->autoFillBackground()) << name;
        EXPECT_EQ(label->backgroundRole(), QPalette::Base) << name;
        EXPECT_EQ(label->foregroundRole(), QPalette::Text) << name;
    }
    for (const char* name : {"Label2", "Label3", "Label4", "Label5"}) {
        EXPECT_FALSE(control(name)->autoFillBackground()) << name;
        EXPECT_EQ(control(name)->backgroundRole(), QPalette::Window) << name;
    }
    QWidget* pic = control("Pic");
    EXPECT_TRUE(pic->autoFillBackground());
    EXPECT_EQ(pic->palette().color(pic->backgroundRole()), QColor(128, 128, 255));
}

TEST_F(WindowTest, BarFrameLiesBehindTheBar) {
    const QObjectList& stack = window->children(); // bottom to top
    const auto at = [&](const char* name) {
        return std::find(stack.begin(), stack.end(), control(name)) - stack.begin();
    };
    EXPECT_LT(at("Picture1"), at("Pic"));
}

TEST_F(WindowTest, FocusChainFollowsTheTabOrder) {
    const std::vector<std::string> order{
        "Frame1",   "Label3",     "Label4",     "Label5",          "Label2",
        "lblManuf", "lblProduct", "lblVersion", "lblSerialNumber", "btnUpgradeFW",
        "Command2", "Pic",        "Picture1"};
    const std::set<std::string> named(order.begin(), order.end());
    std::vector<std::string> chain;
    QWidget* w = control("Frame1");
    do {
        const std::string name = w->objectName().toStdString();
        if (named.count(name) != 0)
            chain.push_back(name);
        w = w->nextInFocusChain();
    } while (w != control("Frame1") && chain.size() <= order.size());
    EXPECT_EQ(chain, order);

    // Tab moves between the two buttons and nowhere else.
    const auto nextTabStop = [](QWidget* from) {
        QWidget* w = from->nextInFocusChain();
        while (w != from && !(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
        return w->objectName().toStdString();
    };
    EXPECT_EQ(nextTabStop(control("btnUpgradeFW")), "Command2");
    EXPECT_EQ(nextTabStop(control("Command2")), "btnUpgradeFW");
}

// ---- Form_Load -------------------------------------------------------------------------------

TEST_F(WindowTest, LoadWithoutDeviceShowsTheWindowFirstAndClearsTheFields) {
    device.tarvexAttached = false;
    window->Form_Load();

    EXPECT_TRUE(api.visibleAtFirstEnumeration);
    EXPECT_EQ(api.enumerations, 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(control("Pic")->isHidden());
    EXPECT_EQ(window->state().ProgressFullWidth, 5055);
    EXPECT_FALSE(window->state().DeviceFound);
    EXPECT_EQ(text("lblManuf"), QString());
    EXPECT_EQ(text("lblProduct"), QString());
    EXPECT_EQ(text("lblVersion"), QStringLiteral(" "));
    EXPECT_EQ(text("lblSerialNumber"), QString());
    EXPECT_TRUE(control("btnUpgradeFW")->isEnabled());
    EXPECT_TRUE(control("Command2")->isEnabled());
    EXPECT_EQ(device.openHandles(), 0);
}

TEST_F(WindowTest, LoadWithTheTarvexFillsTheFields) {
    device.foreignBefore.push_back(
        {"virtual:keyboard", {0x046D, 0xC31C, 0x0110}, true, quorvane::OpenError::None});
    window->Form_Load();

    EXPECT_TRUE(api.visibleAtFirstEnumeration);
    EXPECT_TRUE(window->state().DeviceFound);
    EXPECT_EQ(window->state().Attributes.ProductID, 0x2211);
    EXPECT_EQ(text("lblManuf"), QStringLiteral(" Tarvex Devices"));
    EXPECT_EQ(text("lblProduct"), QStringLiteral(" Tarvex"));
    EXPECT_EQ(text("lblVersion"), QStringLiteral(" 2.13"));
    EXPECT_EQ(text("lblSerialNumber"), QStringLiteral(" TX-000417"));
    EXPECT_EQ(window->label(InfoLabel::Manufacturer), " Tarvex Devices");
    EXPECT_TRUE(control("Pic")->isHidden());
    EXPECT_EQ(device.openHandles(), 2);
    EXPECT_TRUE(traced("lblManuf = \" Tarvex Devices\""));
}

TEST_F(WindowTest, ClicksWithoutDeviceChangeNothing) {
    device.tarvexAttached = false;
    writeImage(2);
    window->Form_Load();
    device.clearLog();
    control<QPushButton>("btnUpgradeFW")->click();
    control<QPushButton>("Command2")->click();

    EXPECT_TRUE(device.log().empty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->unloaded());
    EXPECT_TRUE(control("btnUpgradeFW")->isEnabled());
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Upgrade Firmware"));
    EXPECT_TRUE(messages.empty());
}

// ---- Closing and destruction -----------------------------------------------------------------

TEST_F(WindowTest, ClosingClosesBothHandlesOnceAndNothingAfterwards) {
    window->Form_Load();
    const quorvane::RawHandle hid = window->state().HidHandle.raw();
    const quorvane::RawHandle overlapped = window->state().OverlappedHandle.raw();
    device.clearLog();

    EXPECT_TRUE(window->close());
    const auto closes = calls(CallKind::Close);
    ASSERT_EQ(closes.size(), 2U);
    EXPECT_EQ(closes[0].handle, hid);
    EXPECT_EQ(closes[1].handle, overlapped);
    EXPECT_EQ(device.log().size(), 2U);
    EXPECT_TRUE(device.misuse().empty());
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->unloaded());

    window->close();
    window.reset(); // Form_Terminate
    EXPECT_EQ(device.log().size(), 2U);
    EXPECT_TRUE(device.misuse().empty());
}

TEST_F(WindowTest, DestructionAloneClosesBothHandlesOnce) {
    window->Form_Load();
    device.clearLog();
    window.reset();
    EXPECT_EQ(calls(CallKind::Close).size(), 2U);
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_TRUE(device.misuse().empty());
}

TEST_F(WindowTest, ClosingWithNoDeviceEverFoundClosesNothing) {
    device.tarvexAttached = false;
    window->Form_Load();
    device.clearLog();
    window->close();
    window.reset();
    EXPECT_TRUE(calls(CallKind::Close).empty());
    EXPECT_TRUE(device.misuse().empty());
}

// ---- The window seam -------------------------------------------------------------------------

TEST_F(WindowTest, LabelsCaptionAndEnabledStateGoToTheControls) {
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
    const std::vector<std::string> expected{
        "lblProduct = \" Gerät \xE2\x9C\x93\"", "lblSerialNumber = \"S1\"",
        "btnUpgradeFW caption = \"Finishing...\"", "btnUpgradeFW disabled"};
    EXPECT_EQ(trace, expected);
}

TEST_F(WindowTest, ProgressWidthIsTwipsRoundedToPixels) {
    device.tarvexAttached = false;
    window->Form_Load();
    QWidget* pic = control("Pic");
    window->setProgressVisible(true);
    EXPECT_TRUE(pic->isVisible());

    window->setProgressWidth(0.0F);
    EXPECT_EQ(pic->width(), 0);
    window->setProgressWidth(2527.5F); // 168.5 pixels
    EXPECT_EQ(pic->width(), 169);
    window->setProgressWidth(1263.75F); // 84.25 pixels
    EXPECT_EQ(pic->width(), 84);
    EXPECT_EQ(pic->geometry().topLeft(), QPoint(12, 128));
    EXPECT_EQ(pic->height(), 5);
    EXPECT_EQ(window->state().ProgressFullWidth, 5055);

    EXPECT_TRUE(traced("Pic shown"));
    EXPECT_TRUE(traced("Pic width = 2527.5 twips (50%)"));
    EXPECT_TRUE(traced("Pic width = 1263.8 twips (25%)"));
    window->repaintProgress(); // paints at once, offscreen too
}

TEST_F(WindowTest, MessagesGoToTheNotifierAndTheTrace) {
    window->tellUser("The firmware image is empty.");
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0], "The firmware image is empty.");
    EXPECT_TRUE(traced("message: The firmware image is empty."));
}

TEST_F(WindowTest, UnloadWithNoCommandRunningClosesAtOnce) {
    window->Form_Load();
    device.clearLog();
    window->unload();
    EXPECT_TRUE(window->unloaded());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(calls(CallKind::Close).size(), 2U);
    EXPECT_TRUE(traced("unload"));
}

// ---- Commands through the window -------------------------------------------------------------

TEST_F(WindowTest, UpgradeRunsToTheEndThenUnloadsAfterTheClickReturns) {
    writeImage(3);
    window->Form_Load();
    // Each width the bar took, in twips as traced and in pixels as shown.
    std::vector<std::pair<double, int>> bar;
    bool visibleAtUnload = false;
    window->setTraceHook([&](const std::string& line) {
        trace.push_back(line);
        const std::string prefix = "Pic width = ";
        if (line.rfind(prefix, 0) == 0)
            bar.emplace_back(std::stod(line.substr(prefix.size())), control("Pic")->width());
        if (line == "unload")
            visibleAtUnload = window->isVisible();
    });

    control<QPushButton>("btnUpgradeFW")->click();

    EXPECT_EQ(device.tarvex().records().size(), 3U);
    EXPECT_TRUE(visibleAtUnload);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_TRUE(device.misuse().empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(control("btnUpgradeFW")->isEnabled());
    // Reset at the start, one step per record, reset at the end; always twips / 15, rounded.
    ASSERT_EQ(bar.size(), 5U);
    EXPECT_EQ(bar.front(), std::make_pair(0.0, 0));
    EXPECT_EQ(bar.back(), std::make_pair(0.0, 0));
    for (std::size_t i = 1; i + 1 < bar.size(); ++i) {
        EXPECT_GT(bar[i].first, bar[i - 1].first);
        EXPECT_LE(bar[i].first, 5055.0);
        EXPECT_EQ(bar[i].second, static_cast<int>(std::lround(bar[i].first / 15.0)));
    }
    EXPECT_LT(traceIndex("btnUpgradeFW disabled"),
              traceIndex("btnUpgradeFW caption = \"Switching to bootloader...\""));
    EXPECT_LT(traceIndex("btnUpgradeFW caption = \"Updating firmware...\""),
              traceIndex("btnUpgradeFW caption = \"Finishing...\""));
    EXPECT_LT(traceIndex("btnUpgradeFW caption = \"Finishing...\""), traceIndex("unload"));
    EXPECT_LT(traceIndex("unload"), static_cast<std::ptrdiff_t>(trace.size()));

    // A later click on the closed window does nothing.
    device.clearLog();
    control<QPushButton>("Command2")->click();
    EXPECT_TRUE(device.log().empty());
}

TEST_F(WindowTest, CloseDuringACommandWaitsForItToStop) {
    writeImage(3);
    window->Form_Load();
    bool posted = false;
    device.onSleep = [&](std::int64_t) {
        if (!posted) {
            posted = true; // the user closes the window while the command waits
            QTimer::singleShot(0, window.get(), [w = window.get()] { w->close(); });
        }
    };
    bool visibleAtUnload = false;
    window->setTraceHook([&](const std::string& line) {
        trace.push_back(line);
        if (line == "unload")
            visibleAtUnload = window->isVisible();
    });

    control<QPushButton>("btnUpgradeFW")->click();

    ASSERT_TRUE(posted);
    EXPECT_TRUE(window->closeRequested());
    EXPECT_LT(traceIndex("close requested while a command runs"), traceIndex("unload"));
    EXPECT_TRUE(visibleAtUnload); // the handler was still on the stack
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->unloaded());
    EXPECT_TRUE(device.tarvex().records().empty());
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_TRUE(device.misuse().empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(window->closeRequested());
}

TEST_F(WindowTest, CloseDuringForceBootloaderStopsItAndThenCloses) {
    window->Form_Load();
    bool posted = false;
    device.onSleep = [&](std::int64_t) {
        if (!posted) {
            posted = true;
            QTimer::singleShot(0, window.get(), [w = window.get()] { w->close(); });
        }
    };
    std::size_t callsAtCloseRequest = 0;
    window->setTraceHook([&](const std::string& line) {
        if (line == "close requested while a command runs")
            callsAtCloseRequest = device.log().size();
    });
    control<QPushButton>("Command2")->click();

    ASSERT_TRUE(posted);
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

TEST_F(WindowTest, ForceBootloaderLeavesTheWindowOpenOnTheBootloader) {
    window->Form_Load();
    control<QPushButton>("Command2")->click();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->unloaded());
    EXPECT_EQ(window->state().Attributes.ProductID, 0xB046);
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Upgrade Firmware"));
    EXPECT_TRUE(control("btnUpgradeFW")->isEnabled());
    EXPECT_EQ(device.openHandles(), 2);
}

// ---- Identity --------------------------------------------------------------------------------

TEST(ApplicationIdentity, NameVersionAndIcon) {
    quorvane::applyApplicationIdentity();
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("quorvane"));
    EXPECT_EQ(QCoreApplication::applicationVersion(), QStringLiteral("1.01.0001"));
    // No display name of our own: the platform would append it to the window caption.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("quorvane"));
    EXPECT_STREQ(quorvane::ApplicationTitle, "Tarvex firmware");
    EXPECT_STREQ(quorvane::ApplicationDescription, "Tarvex firmware update");

    const QIcon icon = QApplication::windowIcon();
    const QList<QSize> sizes = icon.availableSizes();
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

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

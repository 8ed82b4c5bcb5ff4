// The window on Qt's offscreen platform against the virtual Tarvex: its layout, what it shows
// and reads out, the commands through its buttons, closing it meanwhile, and the keyboard.
#include "frmMain.h"

#include "clock.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

namespace quorvane::test {
namespace {

// Each field, its row label and that label's caption, and what it shows once the Tarvex is found.
struct Field {
    const char *name, *row, *rowName, *shown;
};
const Field Fields[] = {{"lblManuf", "Label4", "Manufacturer", " Tarvex Devices"},
                        {"lblProduct", "Label5", "Product", " Tarvex"},
                        {"lblVersion", "Label2", "Version", " 2.13"},
                        {"lblSerialNumber", "Label3", "Serial Number", " TX-000417"}};

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        window->setNotifier([this](const std::string& m) { messages.push_back(m); });
        window->setTraceHook([this](const std::string& line) {
            trace.push_back(line);
            if (line.rfind("Pic width", 0) == 0)
                bar.emplace_back(widget("Pic")->width(), value("Pic")->currentValue().toDouble());
        });
    }
    QWidget* widget(const char* name) const {
        auto* w = window->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(const char* name) const {
        if (auto* label = qobject_cast<QLabel*>(widget(name)))
            return label->text();
        return static_cast<QPushButton*>(widget(name))->text();
    }
    QAccessibleInterface* accessible(const char* name) const {
        return QAccessible::queryAccessibleInterface(widget(name));
    }
    QAccessibleValueInterface* value(const char* name) const {
        return accessible(name)->valueInterface();
    }
    void click(const char* button) { static_cast<QPushButton*>(widget(button))->click(); }

    TempDir dir;
    const std::filesystem::path image = dir.path() / "quorvane.bin";
    VirtualClock clock;
    VirtualPlatform device{clock, defaultTarvexConfig()};
    std::unique_ptr<frmMain> window = std::make_unique<frmMain>(device, image);
    std::vector<std::string> messages, trace;
    std::vector<std::pair<int, double>>
        bar; // each width the bar took: pixels and per cent read out
};

TEST_F(WindowTest, LayoutCaptionsFontsColoursAndTabOrder) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Firmware Update"));
    EXPECT_EQ(window->size(), QSize(361, 245)); // 5415 x 3675 twips, fixed
    EXPECT_EQ(window->maximumSize(), window->minimumSize());
    // Where a few controls must sit, in twips: the bar's frame and full width, the buttons.
    struct Place {
        const char *name, *caption;
        int left, top, width, height;
    };
    for (const Place& p : {Place{"Frame1", nullptr, 120, 0, 5175, 1695},
                           Place{"lblSerialNumber", nullptr, 1560, 1320, 3480, 330},
                           Place{"btnUpgradeFW", "Upgrade Firmware", 840, 2280, 3735, 495},
                           Place{"Command2", "Force Bootloader Mode", 840, 2940, 3735, 495},
                           Place{"Pic", nullptr, 180, 1920, 5055, 75},
                           Place{"Picture1", nullptr, 120, 1860, 5175, 195}}) {
        const QRect px(p.left / 15, p.top / 15, p.width / 15, p.height / 15);
        EXPECT_EQ(widget(p.name)->geometry(), px) << p.name;
        if (p.caption != nullptr)
            EXPECT_EQ(text(p.name), QString::fromLatin1(p.caption)) << p.name;
    }
    std::vector<const char*> written{"btnUpgradeFW", "Command2"};
    for (const Field& f : Fields) {
        EXPECT_EQ(text(f.row), QString::fromLatin1(f.rowName));
        EXPECT_EQ(widget(f.name)->parentWidget(), widget("Frame1")) << f.name;
        EXPECT_EQ(widget(f.name)->backgroundRole(), QPalette::Base) << f.name;
        written.insert(written.end(), {f.name, f.row});
    }
    for (const char* name : written) {
        EXPECT_EQ(widget(name)->font().family(), QStringLiteral("MS Sans Serif")) << name;
        EXPECT_DOUBLE_EQ(widget(name)->font().pointSizeF(), 9.75) << name;
    }
    // The bar is drawn in its colour, in front of its frame.
    const QImage picture = window->grab().toImage();
    EXPECT_EQ(picture.pixelColor(widget("Pic")->geometry().center()), QColor(128, 128, 255));
    QString chain;
    for (QWidget* w = widget("Frame1"); chain.count(' ') < 13; w = w->nextInFocusChain())
        chain += w->objectName().startsWith(QLatin1String("qt_")) ? "" : w->objectName() + ' ';
    EXPECT_EQ(chain, QStringLiteral("Frame1 Label3 Label4 Label5 Label2 lblManuf lblProduct "
                                    "lblVersion lblSerialNumber btnUpgradeFW Command2 Pic "
                                    "Picture1 "));
}

TEST_F(WindowTest, LoadShowsTheTarvexAndReadsEachFieldOutUnderItsRowName) {
    window->Form_Load();
    EXPECT_EQ(device.openHandles(), 2);
    for (const Field& f : Fields) {
        EXPECT_EQ(text(f.name), QString::fromLatin1(f.shown)) << f.name;
        EXPECT_EQ(static_cast<QLabel*>(widget(f.row))->buddy(), widget(f.name)) << f.name;
        EXPECT_EQ(accessible(f.name)->text(QAccessible::Name), QString::fromLatin1(f.rowName));
        EXPECT_EQ(accessible(f.name)->text(QAccessible::Value), QString::fromLatin1(f.shown));
    }
    EXPECT_EQ(accessible("Pic")->role(), QAccessible::ProgressBar);
    EXPECT_TRUE(widget("Pic")->isHidden());
    click("Command2"); // the Tarvex comes back in its bootloader, the window stays
    EXPECT_EQ(window->state().Attributes.ProductID, BootModeProductId);
    EXPECT_TRUE(window->isVisible());
    for (const Field& f : Fields) // each field shows, and reads out, the bootloader's text
        EXPECT_EQ(accessible(f.name)->text(QAccessible::Value), text(f.name));
    EXPECT_TRUE(messages.empty());
}

TEST_F(WindowTest, WithoutDeviceTheFieldsStayEmptyAndClicksDoNothing) {
    device.tarvexAttached = false;
    window->Form_Load();
    for (const Field& f : Fields)
        EXPECT_EQ(text(f.name), QString()) << f.name;
    device.clearLog();
    click("btnUpgradeFW");
    click("Command2");
    window.reset();
    EXPECT_TRUE(device.log().empty());
    EXPECT_TRUE(messages.empty());
}

// A command through its button, with the window closed during its first wait or not. Meanwhile
// both buttons are clicked again: while a command runs, a click is ignored.
struct Command {
    const char* button;
    bool closeAtFirstWait;
    std::size_t records;
    bool unloads;
};
class CommandTest : public WindowTest, public ::testing::WithParamInterface<Command> {};

TEST_P(CommandTest, RunsAloneAndTheWindowClosesOnlyAfterIt) {
    const Command run = GetParam();
    writeFile(image, imageBytes(4 * 40));
    device.tarvex().config().expectedRecords = 4;
    window->Form_Load();
    bool hiddenWhileRunning = false;
    QObject::connect(window->windowHandle(), &QWindow::visibleChanged,
                     [&](bool shown) { hiddenWhileRunning |= !shown && window && window->commandRunning(); });
    std::size_t callsAtClose = 0;
    bool posted = false;
    device.onSleep = [&](std::int64_t) {
        if (!std::exchange(posted, true))
            QTimer::singleShot(0, window.get(), [&] {
                click("btnUpgradeFW");
                click("Command2");
                callsAtClose = device.log().size();
                if (run.closeAtFirstWait)
                    window->close();
            });
    };
    click(run.button);
    ASSERT_GT(callsAtClose, 0U);
    EXPECT_EQ(device.tarvex().records().size(), run.records);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
    EXPECT_EQ(window->unloaded(), run.unloads);
    EXPECT_EQ(window->isVisible(), !run.unloads);
    EXPECT_FALSE(hiddenWhileRunning); // closed after the command returned
    for (std::size_t i = callsAtClose; run.closeAtFirstWait && i < device.log().size(); ++i)
        EXPECT_EQ(device.log()[i].kind, CallKind::Close) << "call " << i;
    if (run.records == 4) // a quarter more per record, reset when finishing
        EXPECT_EQ(bar, (decltype(bar){{0, 0}, {84, 25}, {169, 50}, {253, 75}, {337, 100}, {0, 0}}));
    window.reset();
    EXPECT_EQ(device.openHandles(), 0);
    EXPECT_TRUE(device.misuse().empty());
    EXPECT_TRUE(messages.empty());
}
INSTANTIATE_TEST_SUITE_P(Window, CommandTest,
                         ::testing::Values(Command{"btnUpgradeFW", false, 4, true},
                                           Command{"btnUpgradeFW", true, 0, true},
                                           Command{"Command2", true, 0, true},
                                           Command{"Command2", false, 0, false}));

TEST_F(WindowTest, TabMovesBetweenTheButtonsAndEnterPressesOne) {
    window->Form_Load();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), widget("btnUpgradeFW"));
    QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), widget("Command2"));
    QTest::keyClick(window.get(), Qt::Key_Tab);
    QTest::keyClick(window.get(), Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), widget("Command2"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
}

// A Tarvex this account may not open, at load or while a command waits for the bootloader:
// the advice is given once.
TEST_F(WindowTest, ADeniedTarvexIsExplainedOnce) {
    const auto denied = [](const char* path, std::uint16_t product) {
        return ForeignInterface{path, {0x1209, product, 0x0100}, false, OpenError::AccessDenied};
    };
    device.tarvexAttached = false;
    device.foreignBefore = {denied("/dev/hidraw0", 0xC31C), denied("/dev/hidraw2", 0x2211)};
    window->Form_Load();
    EXPECT_EQ(messages, std::vector<std::string>{deniedAccessAdvice("/dev/hidraw2")});
    EXPECT_NE(messages[0].find("70-quorvane.rules"), std::string::npos);

    messages.clear();
    window = std::make_unique<frmMain>(device, image);
    window->setNotifier([this](const std::string& m) { messages.push_back(m); });
    device.tarvexAttached = true;
    device.foreignBefore.clear();
    device.foreignAfter = {denied("/dev/hidraw8", BootModeProductId)};
    device.tarvex().config().offBusMs = 1500; // the bootloader node is listed, poll after poll
    window->Form_Load();
    click("Command2");
    EXPECT_EQ(messages, std::vector<std::string>{deniedAccessAdvice("/dev/hidraw8")});
    EXPECT_EQ(window->state().Attributes.ProductID, BootModeProductId);
}

} // namespace
} // namespace quorvane::test

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

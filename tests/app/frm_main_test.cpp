// The window on Qt's offscreen platform against the virtual Tarvex.
#include "frmMain.h"

#include "captions.h"
#include "discovery_messages.h"

#include "tarvex_fixture.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>

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
        window->setNotifier([this](const std::string& m, bool modal) {
            (modal ? messages : notices).push_back(m);
        });
        window->setTraceHook([this](const std::string& line) {
            if (line.rfind("Pic width", 0) == 0 && widget("Pic")->isVisible())
                bar << QString::number(widget("Pic")->width()) + ' ' +
                           accessible("Pic")->text(QAccessible::Value);
        });
    }
    QWidget* widget(const char* name) const { return window->findChild<QWidget*>(name); }
    QString text(const char* name) const { return widget(name)->property("text").toString(); }
    QAccessibleInterface* accessible(const char* name) const {
        return QAccessible::queryAccessibleInterface(widget(name));
    }
    void click(const char* button) { static_cast<QAbstractButton*>(widget(button))->click(); }

    TempDir dir;
    const std::filesystem::path image = dir.path() / "quorvane.bin";
    VirtualClock clock;
    VirtualPlatform device{clock, defaultTarvexConfig()};
    std::unique_ptr<frmMain> window = std::make_unique<frmMain>(device, image);
    std::vector<std::string> messages, notices; // told in a box that waits for the user, or not
    QStringList bar; // each width of the bar while shown: in pixels, and as read out
};

TEST_F(WindowTest, LayoutCaptionsFontsAndColours) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Firmware Update"));
    EXPECT_EQ(window->size(), QSize(361, 245)); // 5415 x 3675 twips, fixed
    EXPECT_EQ(window->maximumSize(), window->minimumSize());
    // Where a few controls sit, in twips: the fields' frame, the buttons, the bar at full width.
    for (const auto& [name, r] : {std::pair{"Frame1", QRect(120, 0, 5175, 1695)},
                                  {"btnUpgradeFW", QRect(840, 2280, 3735, 495)},
                                  {"Command2", QRect(840, 2940, 3735, 495)},
                                  {"Pic", QRect(180, 1920, 5055, 75)},
                                  {"Picture1", QRect(120, 1860, 5175, 195)}})
        EXPECT_EQ(widget(name)->geometry(), QRect(r.topLeft() / 15, r.size() / 15)) << name;
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Upgrade Firmware"));
    EXPECT_EQ(text("Command2"), QStringLiteral("Force Bootloader Mode"));
    // The fields read as fields on the frame; the bar is drawn in its colour, before its frame.
    const QImage picture = window->grab().toImage();
    const QColor field = window->palette().color(QPalette::Base);
    std::vector<const char*> written{"btnUpgradeFW", "Command2"};
    for (const Field& f : Fields) {
        EXPECT_EQ(widget(f.name)->parentWidget(), widget("Frame1")) << f.name;
        EXPECT_EQ(picture.pixelColor(widget(f.name)->mapTo(window.get(), QPoint(200, 20))), field);
        written.insert(written.end(), {f.name, f.row});
    }
    for (const char* name : written)
        EXPECT_EQ(widget(name)->font().toString().section(',', 0, 1), "MS Sans Serif,9.75") << name;
    EXPECT_EQ(picture.pixelColor(widget("Pic")->geometry().center()), QColor(128, 128, 255));
}

TEST_F(WindowTest, LoadShowsTheTarvexAndReadsEachFieldOutUnderItsRowName) {
    window->Form_Load();
    for (const Field& f : Fields) {
        EXPECT_EQ(text(f.name), QString::fromLatin1(f.shown)) << f.name;
        EXPECT_EQ(accessible(f.name)->text(QAccessible::Name), QString::fromLatin1(f.rowName));
    }
    QAccessibleTextInterface* chars = accessible("lblManuf")->textInterface();
    EXPECT_EQ(chars->text(0, chars->characterCount()), QStringLiteral(" Tarvex Devices"));
    EXPECT_EQ(chars->offsetAtPoint(chars->characterRect(0).center()), 0);
    EXPECT_EQ(accessible("Pic")->role(), QAccessible::ProgressBar);
    EXPECT_TRUE(widget("Pic")->isHidden());
    window->activateWindow(); // from the keyboard alone: Tab to the next button, Enter presses it
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(QApplication::focusWidget(), widget("btnUpgradeFW"));
    QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), widget("Command2"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 0);            // Ctrl+Enter presses nothing
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // the Tarvex's bootloader
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
    EXPECT_EQ(text("lblProduct"), QStringLiteral(" Tarvex Bootloader"));
    for (const Field& f : Fields) // each field reads out what it now shows
        EXPECT_EQ(accessible(f.name)->text(QAccessible::Value), text(f.name));
}

// Text the program did not write is never read as markup: device strings and paths.
TEST_F(WindowTest, MarkupInDeviceStringsAndPathsIsShownAsWritten) {
    device.tarvex().config().application.manufacturer = u"<h1>Big</h1>";
    frmMain plain(device, dir.path() / "fw<b>new</b>" / "quorvane.bin"); // its own message box
    plain.Form_Load();
    EXPECT_EQ(plain.findChild<QLabel*>("lblManuf")->textFormat(), Qt::PlainText);
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        EXPECT_TRUE(box->textFormat() == Qt::PlainText && box->text().contains("fw<b>new</b>"));
        box->accept();
    });
    plain.btnUpgradeFW_Click(); // the image is missing: told, with its path
}

// No Tarvex that may be opened: the fields stay empty, and the user is told how to get access
// to the one that was denied at load and at each click, which looks again and sends nothing.
TEST_F(WindowTest, WithoutDeviceTheFieldsStayEmptyClicksDoNothingAndDenialIsExplained) {
    device.tarvexAttached = false;
    device.foreignBefore = {foreign("/dev/hidraw0", 1, 0xC31C, false),
                            foreign("/dev/hidraw2", 1, 0x2211, false)};
    window->Form_Load();
    for (const Field& f : Fields)
        EXPECT_EQ(text(f.name), QString()) << f.name;
    device.clearLog();
    click("btnUpgradeFW");
    click("Command2");
    window.reset();
    EXPECT_EQ(device.log().size(), 2U * 3); // each click: the list, and two refused opens
    EXPECT_EQ(messages,
              std::vector<std::string>(3, deniedAccessAdvice(ThisSystem, "/dev/hidraw2", false)));
}

// During a command, without a box that would stop the polling.
TEST_F(WindowTest, ADeniedBootloaderIsExplainedOnceWhilePolled) {
    device.tarvex().config().faults.deniedInBootloader = true;
    window->Form_Load();
    device.onSleep = [&, polls = 0](std::int64_t) mutable {
        if (!notices.empty() && ++polls == 5)
            window->close();
    };
    click("Command2");
    EXPECT_EQ(notices,
              std::vector<std::string>{deniedAccessAdvice(ThisSystem, "virtual:tarvex/2", true)});
    EXPECT_TRUE(messages.empty() && window->unloaded());
}

// Closing during the transfer asks first; on "Continue" the update goes on to its end.
TEST_F(WindowTest, ClosingDuringTheTransferAsksFirst) {
    writeFile(image, imageBytes(4 * RecordSize));
    device.tarvex().config().expectedRecords = 4;
    std::vector<std::string> asked;
    window->setAsker([&](const std::string& q) { return asked.push_back(q), false; });
    device.onSleep = [&](std::int64_t) {
        if (device.tarvex().records().size() == 2 && asked.empty())
            window->close();
    };
    window->Form_Load();
    click("btnUpgradeFW");
    EXPECT_EQ(asked, std::vector<std::string>{QuestionStopTransfer});
    EXPECT_TRUE(device.tarvex().records().size() == 4 && window->unloaded() && messages.empty());
}

// While idle the window follows the device: a burst of changes gives one discovery within a
// second; unplugged, the fields clear and both handles close once. During a command only the
// command's own polls look.
TEST_F(WindowTest, FollowsTheDeviceWhileIdleAndStaysOutOfACommandsWay) {
    const auto discoveries = [&] {
        return std::ranges::count(device.log(), CallKind::Enumerate, &CallRecord::kind);
    };
    const auto settled = [&](const char* product) {
        for (int ms = 0; ms < 1000 && text("lblProduct") != product; ms += 50)
            QTest::qWait(50);
        QTest::qWait(500); // and nothing more comes
        return text("lblProduct") == product;
    };
    device.tarvexAttached = false;
    window->Form_Load();
    device.clearLog();
    device.tarvexAttached = true; // with another device's interface coming and going
    device.foreignAfter = {foreign("/k", 1, 0xC31C)};
    QTest::qWait(260);
    device.foreignAfter.clear();
    EXPECT_TRUE(settled(" Tarvex"));
    EXPECT_EQ(discoveries(), 1);
    device.tarvexAttached = false;
    EXPECT_TRUE(settled(""));
    EXPECT_TRUE(device.openHandles() == 0 && device.misuse().empty());
    // A Tarvex this account may not open: tried once more a second later, then explained once.
    device.foreignAfter = {foreign("/dev/hidraw5", 1, AppModeProductId, false)};
    QTest::qWait(2200);
    EXPECT_EQ(notices,
              std::vector<std::string>{deniedAccessAdvice(ThisSystem, "/dev/hidraw5", false)});
    device.foreignAfter.clear();

    device.tarvexAttached = true;
    ASSERT_TRUE(settled(" Tarvex"));
    device.clearLog();
    device.onSleep = [&, once = true](std::int64_t) mutable {
        if (std::exchange(once, false))
            device.foreignAfter = {foreign("/k", 1, 0xC31C)}, QTest::qWait(700);
    };
    click("Command2");
    const auto polls = std::ranges::count(device.log(), DiscoveryPauseMs, &CallRecord::sleepMs);
    EXPECT_EQ(discoveries(), polls + 1); // the count of units before the entry, then its polls
    EXPECT_TRUE(settled(" Tarvex Bootloader"));
}

// A command through its button, the window closed during its first wait or not. Meanwhile both
// buttons are clicked again: while a command runs, a click is ignored.
class CommandTest : public WindowTest,
                    public ::testing::WithParamInterface<std::tuple<std::string, bool>> {};

TEST_P(CommandTest, RunsAloneAndTheWindowClosesOnlyAfterIt) {
    const std::string button = std::get<0>(GetParam());
    const bool closeAtFirstWait = std::get<1>(GetParam()); // a lambda below captures it
    const bool upgrade = button == "btnUpgradeFW";
    writeFile(image, imageBytes(4 * RecordSize));
    device.tarvex().config().expectedRecords = 4;
    window->Form_Load();
    bool hiddenWhileRunning = false;
    QObject::connect(window->windowHandle(), &QWindow::visibleChanged, [&](bool shown) {
        hiddenWhileRunning |= !shown && window && window->commandRunning();
    });
    std::size_t callsAtClose = 0;
    bool posted = false;
    device.onSleep = [&](std::int64_t) {
        if (!std::exchange(posted, true))
            QTimer::singleShot(0, window.get(), [&] {
                EXPECT_EQ(widget("btnUpgradeFW")->isEnabled(), !upgrade); // greyed while it runs
                click("btnUpgradeFW");
                click("Command2");
                callsAtClose = device.log().size();
                if (closeAtFirstWait)
                    window->close();
            });
    };
    click(button.c_str());
    EXPECT_EQ(device.tarvex().records().size(), upgrade && !closeAtFirstWait ? 4U : 0U);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
    EXPECT_EQ(window->unloaded(), upgrade || closeAtFirstWait);
    EXPECT_EQ(window->isVisible(), !window->unloaded());
    EXPECT_FALSE(hiddenWhileRunning);
    for (std::size_t i = callsAtClose; closeAtFirstWait && i < device.log().size(); ++i)
        EXPECT_EQ(device.log()[i].kind, CallKind::Close) << "call " << i; // the command stopped
    if (upgrade && !closeAtFirstWait) { // a quarter more per record, reset when finishing
        EXPECT_EQ(bar.join(", "), "0 0%, 84 25%, 169 50%, 253 75%, 337 100%, 0 0%");
    }
    window.reset();
    EXPECT_TRUE(device.openHandles() == 0 && device.misuse().empty() && messages.empty());
}
INSTANTIATE_TEST_SUITE_P(Window, CommandTest,
                         ::testing::Combine(::testing::Values("btnUpgradeFW", "Command2"),
                                            ::testing::Bool()));

} // namespace
} // namespace quorvane::test

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

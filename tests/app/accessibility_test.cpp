// The window for those who use the keyboard alone or assistive technology, on the offscreen
// platform: what each control tells assistive technology, Tab between the buttons, Space and
// Enter on them, and the plain-words advice when the Tarvex is there but may not be opened.
#include "frmMain.h"

#include "clock.h"
#include "command_codes.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using quorvane::InfoLabel;

quorvane::TarvexConfig tarvexConfig() {
    quorvane::TarvexConfig c = quorvane::defaultTarvexConfig();
    c.enterBootloaderCode = quorvane::EnterBootloaderCode;
    c.unlockCode = quorvane::UnlockCode;
    return c;
}

quorvane::ForeignInterface deniedInterface(const std::string& path, std::uint16_t product) {
    quorvane::ForeignInterface f;
    f.path = path;
    f.attributes = {0x1209, product, 0x0100};
    f.openable = false;
    f.openError = quorvane::OpenError::AccessDenied;
    return f;
}

class AccessibleWindowTest : public ::testing::Test {
protected:
    AccessibleWindowTest() : device(clock, tarvexConfig()) {
        image = dir.path() / "quorvane.bin";
        window = std::make_unique<frmMain>(device, image);
        window->setNotifier([this](const std::string& message) { messages.push_back(message); });
    }

    template <typename T = QWidget> T* control(const char* name) const {
        auto* widget = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static QAccessibleInterface* accessible(QObject* object) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
        EXPECT_NE(iface, nullptr);
        return iface;
    }
    QAccessibleValueInterface* barValue() const {
        QAccessibleInterface* iface = accessible(control("Pic"));
        return iface != nullptr ? iface->valueInterface() : nullptr;
    }
    void writeImage(int records) {
        quorvane::test::writeFile(
            image, quorvane::test::imageBytes(static_cast<std::size_t>(records) * 40U));
        device.tarvex().config().expectedRecords = records;
    }
    // Loads the window and makes it the active one, as a user's would be.
    void loadAndActivate() {
        window->Form_Load();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    std::string focused() const {
        QWidget* w = QApplication::focusWidget();
        return w != nullptr ? w->objectName().toStdString() : std::string("(none)");
    }

    quorvane::test::TempDir dir;
    std::filesystem::path image;
    quorvane::VirtualClock clock;
    quorvane::VirtualPlatform device;
    std::unique_ptr<frmMain> window;
    std::vector<std::string> messages;
};

// ---- What assistive technology is told -------------------------------------------------------

struct Row {
    const char* rowLabel;
    const char* field;
    const char* name;
};
const Row Rows[] = {
    {"Label4", "lblManuf", "Manufacturer"},
    {"Label5", "lblProduct", "Product"},
    {"Label2", "lblVersion", "Version"},
    {"Label3", "lblSerialNumber", "Serial Number"},
};

TEST_F(AccessibleWindowTest, EachFieldIsNamedByItsRowAndLabelledByIt) {
    for (const Row& row : Rows) {
        auto* rowLabel = control<QLabel>(row.rowLabel);
        QWidget* field = control(row.field);
        EXPECT_EQ(rowLabel->buddy(), field) << row.field;
        QAccessibleInterface* iface = accessible(field);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), QAccessible::StaticText) << row.field;
        EXPECT_EQ(iface->text(QAccessible::Name), QString::fromLatin1(row.name)) << row.field;
        bool labelledByRow = false;
        for (const auto& [other, relation] : iface->relations(QAccessible::Label))
            labelledByRow = labelledByRow || other->object() == rowLabel;
        EXPECT_TRUE(labelledByRow) << row.field;
    }
}

TEST_F(AccessibleWindowTest, EachFieldReadsOutWhatItShows) {
    window->Form_Load();
    const std::pair<const char*, QString> shown[] = {
        {"lblManuf", QStringLiteral(" Tarvex Devices")},
        {"lblProduct", QStringLiteral(" Tarvex")},
        {"lblVersion", QStringLiteral(" 2.13")},
        {"lblSerialNumber", QStringLiteral(" TX-000417")},
    };
    for (const auto& [name, text] : shown) {
        QAccessibleInterface* iface = accessible(control(name));
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->text(QAccessible::Value), text) << name;
        QAccessibleTextInterface* textIface = iface->textInterface();
        ASSERT_NE(textIface, nullptr) << name;
        EXPECT_EQ(textIface->characterCount(), text.size()) << name;
        EXPECT_EQ(textIface->text(0, textIface->characterCount()), text) << name;
        EXPECT_EQ(textIface->text(1, 7), text.mid(1, 6)) << name;
    }

    // Character positions lie on the field and lead back to the character.
    QWidget* field = control("lblManuf");
    QAccessibleTextInterface* text = accessible(field)->textInterface();
    const QRect onScreen(field->mapToGlobal(QPoint(0, 0)), field->size());
    const QRect second = text->characterRect(1);
    EXPECT_FALSE(second.isEmpty());
    EXPECT_TRUE(onScreen.contains(second.center()));
    EXPECT_LT(text->characterRect(1).left(), text->characterRect(2).left());
    EXPECT_EQ(text->offsetAtPoint(second.center()), 1);
    EXPECT_TRUE(text->characterRect(99).isEmpty());

    // A change of device shows, and reads out, the new text.
    window->setLabel(InfoLabel::Product, " Tarvex Boot");
    EXPECT_EQ(accessible(control("lblProduct"))->text(QAccessible::Value),
              QStringLiteral(" Tarvex Boot"));
}

TEST_F(AccessibleWindowTest, TheProgressBarIsABarFromNoughtToAHundred) {
    device.tarvexAttached = false;
    window->Form_Load();
    QAccessibleInterface* iface = accessible(control("Pic"));
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::ProgressBar);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Firmware update progress"));
    EXPECT_TRUE(iface->state().invisible); // hidden until a transfer starts
    QAccessibleValueInterface* value = iface->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->minimumValue().toDouble(), 0.0);
    EXPECT_EQ(value->maximumValue().toDouble(), 100.0);
    EXPECT_EQ(value->currentValue().toDouble(), 0.0);

    window->setProgressVisible(true);
    EXPECT_FALSE(iface->state().invisible);
    window->setProgressWidth(2527.5F); // half of the 5055 twips
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), 50.0);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("50%"));
    window->setProgressWidth(5055.0F);
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), 100.0);
    // Nobody but the transfer moves the bar.
    value->setCurrentValue(20.0);
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), 100.0);
    window->setProgressWidth(0.0F);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("0%"));
}

TEST_F(AccessibleWindowTest, TheBarsValueFollowsAWholeUpgrade) {
    writeImage(4);
    window->Form_Load();
    std::vector<double> values;
    window->setTraceHook([&](const std::string& line) {
        if (line.rfind("Pic width = ", 0) == 0)
            values.push_back(barValue()->currentValue().toDouble());
    });
    control<QPushButton>("btnUpgradeFW")->click();
    ASSERT_EQ(device.tarvex().records().size(), 4U);
    // Reset at the start, a quarter more per record, reset when it is finishing.
    const std::vector<double> expected{0.0, 25.0, 50.0, 75.0, 100.0, 0.0};
    EXPECT_EQ(values, expected);
}

// ---- The keyboard alone ----------------------------------------------------------------------

TEST_F(AccessibleWindowTest, TabMovesBetweenTheTwoButtonsFromTheFirst) {
    loadAndActivate();
    EXPECT_EQ(focused(), "btnUpgradeFW");
    QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_EQ(focused(), "Command2");
    QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_EQ(focused(), "btnUpgradeFW");
    QTest::keyClick(window.get(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focused(), "Command2");
}

TEST_F(AccessibleWindowTest, EnterOnAFocusedButtonRunsItsCommand) {
    loadAndActivate();
    QTest::keyClick(window.get(), Qt::Key_Tab);
    ASSERT_EQ(focused(), "Command2");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
    EXPECT_EQ(window->state().Attributes.ProductID, 0xB046);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(AccessibleWindowTest, SpaceOnTheFocusedUpgradeButtonUpgrades) {
    writeImage(3);
    loadAndActivate();
    ASSERT_EQ(focused(), "btnUpgradeFW");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(device.tarvex().records().size(), 3U);
    EXPECT_TRUE(window->unloaded());
}

TEST_F(AccessibleWindowTest, KeypadEnterUpgradesToo) {
    writeImage(2);
    loadAndActivate();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(device.tarvex().records().size(), 2U);
    EXPECT_TRUE(window->unloaded());
}

TEST_F(AccessibleWindowTest, AHeldEnterClicksOnceAndModifiedEnterNotAtAll) {
    device.tarvexAttached = false; // clicks then do nothing but be counted
    loadAndActivate();
    auto* button = control<QPushButton>("Command2");
    button->setFocus();
    QSignalSpy clicks(button, &QPushButton::clicked);
    QKeyEvent first(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(button, &first);
    QApplication::sendEvent(button, &repeated);
    QApplication::sendEvent(button, &repeated);
    EXPECT_EQ(clicks.count(), 1);
    QTest::keyClick(button, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(clicks.count(), 1);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 2);
}

// ---- A Tarvex this account may not open ------------------------------------------------------

TEST_F(AccessibleWindowTest, ADeniedTarvexAtLoadIsExplainedInPlainWords) {
    device.tarvexAttached = false;
    device.foreignBefore = {deniedInterface("/dev/hidraw2", 0x2211)};
    window->Form_Load();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0], deniedAccessAdvice("/dev/hidraw2"));
    for (const char* part : {"/dev/hidraw2", "not allowed", "70-quorvane.rules",
                             "/etc/udev/rules.d/", "plug it in again"})
        EXPECT_NE(messages[0].find(part), std::string::npos) << part;
    EXPECT_FALSE(window->state().DeviceFound);
}

TEST_F(AccessibleWindowTest, OtherDevicesThatMayNotBeOpenedAreNoConcern) {
    device.tarvexAttached = false;
    device.foreignBefore = {deniedInterface("/dev/hidraw0", 0xC31C),
                            deniedInterface("/dev/hidraw1", 0x2212)};
    window->Form_Load();
    EXPECT_TRUE(messages.empty());
}

TEST_F(AccessibleWindowTest, ADeniedBootloaderDuringAWaitIsExplainedOnce) {
    // The device restarts into its bootloader slowly; meanwhile a bootloader node this user may
    // not open is listed, poll after poll.
    device.tarvex().config().offBusMs = 1500;
    device.foreignAfter = {deniedInterface("/dev/hidraw8", 0xB046)};
    window->Form_Load();
    ASSERT_TRUE(window->state().DeviceFound);
    EXPECT_TRUE(messages.empty());
    int deniedPolls = 0;
    device.onSleep = [&](std::int64_t) {
        deniedPolls += window->state().AccessDeniedPath.empty() ? 0 : 1;
    };
    control<QPushButton>("Command2")->click();
    EXPECT_GT(deniedPolls, 3);
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_NE(messages[0].find("/dev/hidraw8"), std::string::npos);
    EXPECT_EQ(window->state().Attributes.ProductID, 0xB046); // the Tarvex came back all the same
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

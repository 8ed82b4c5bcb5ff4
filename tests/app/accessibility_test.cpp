// The window for those who use the keyboard alone or assistive technology, on the offscreen
// platform: what each field tells assistive technology (the bar's part is in frm_main_test),
// Tab between the buttons, Space and Enter on them, and the plain-words advice when the Tarvex
// is there but may not be opened.
#include "window_test.h"

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace quorvane::test {
namespace {

ForeignInterface deniedInterface(const std::string& path, std::uint16_t product) {
    return {path, {0x1209, product, 0x0100}, false, OpenError::AccessDenied};
}

class AccessibleWindowTest : public WindowTest {
protected:
    QAccessibleInterface* accessible(const char* name) const {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control(name));
        EXPECT_NE(iface, nullptr) << name;
        return iface;
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
};

// ---- What assistive technology is told -------------------------------------------------------

TEST_F(AccessibleWindowTest, EachFieldIsNamedAndLabelledByItsRowAndReadsOutWhatItShows) {
    window->Form_Load();
    for (const Field& f : Fields) {
        auto* rowLabel = control<QLabel>(f.rowLabel);
        EXPECT_EQ(rowLabel->buddy(), control(f.name)) << f.name;
        QAccessibleInterface* iface = accessible(f.name);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), QAccessible::StaticText) << f.name;
        EXPECT_EQ(iface->text(QAccessible::Name), QString::fromLatin1(f.rowName)) << f.name;
        bool labelledByRow = false;
        for (const auto& [other, relation] : iface->relations(QAccessible::Label))
            labelledByRow = labelledByRow || other->object() == rowLabel;
        EXPECT_TRUE(labelledByRow) << f.name;

        const QString shown = QString::fromLatin1(f.shown);
        EXPECT_EQ(iface->text(QAccessible::Value), shown) << f.name;
        QAccessibleTextInterface* text = iface->textInterface();
        ASSERT_NE(text, nullptr) << f.name;
        EXPECT_EQ(text->characterCount(), shown.size()) << f.name;
        EXPECT_EQ(text->text(0, text->characterCount()), shown) << f.name;
        EXPECT_EQ(text->text(1, 7), shown.mid(1, 6)) << f.name;
    }

    // Character positions lie on the field and lead back to the character.
    QWidget* field = control("lblManuf");
    QAccessibleTextInterface* text = accessible("lblManuf")->textInterface();
    const QRect second = text->characterRect(1);
    EXPECT_FALSE(second.isEmpty());
    EXPECT_TRUE(QRect(field->mapToGlobal(QPoint(0, 0)), field->size()).contains(second.center()));
    EXPECT_LT(second.left(), text->characterRect(2).left());
    EXPECT_EQ(text->offsetAtPoint(second.center()), 1);
    EXPECT_TRUE(text->characterRect(99).isEmpty());

    // A change of device shows, and reads out, the new text.
    window->setLabel(InfoLabel::Product, " Tarvex Boot");
    EXPECT_EQ(accessible("lblProduct")->text(QAccessible::Value), QStringLiteral(" Tarvex Boot"));
}

// ---- The keyboard alone ----------------------------------------------------------------------

TEST_F(AccessibleWindowTest, TabMovesBetweenTheTwoButtonsAndEnterRunsTheFocusedOne) {
    loadAndActivate();
    EXPECT_EQ(focused(), "btnUpgradeFW");
    QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_EQ(focused(), "Command2");
    QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_EQ(focused(), "btnUpgradeFW");
    QTest::keyClick(window.get(), Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_EQ(focused(), "Command2");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(AccessibleWindowTest, EnterOrSpaceClicksTheFocusedButtonOnceAndModifiedEnterNot) {
    device.tarvexAttached = false; // clicks then do nothing but be counted
    loadAndActivate();
    QWidget* button = QApplication::focusWidget();
    ASSERT_EQ(focused(), "btnUpgradeFW");
    QSignalSpy clicks(static_cast<QPushButton*>(button), &QPushButton::clicked);
    QKeyEvent first(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(button, &first);
    QApplication::sendEvent(button, &repeated);
    QApplication::sendEvent(button, &repeated);
    EXPECT_EQ(clicks.count(), 1); // a held key clicks once
    QTest::keyClick(button, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(clicks.count(), 1);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 2);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clicks.count(), 3);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 4);
}

// ---- A Tarvex this account may not open ------------------------------------------------------

TEST_F(AccessibleWindowTest, ADeniedTarvexAtLoadIsExplainedInPlainWordsAndNoOtherDevice) {
    device.tarvexAttached = false;
    device.foreignBefore = {deniedInterface("/dev/hidraw0", 0xC31C),
                            deniedInterface("/dev/hidraw1", 0x2212),
                            deniedInterface("/dev/hidraw2", 0x2211)};
    window->Form_Load();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0], deniedAccessAdvice("/dev/hidraw2"));
    for (const char* part : {"/dev/hidraw2", "not allowed", "70-quorvane.rules",
                             "/etc/udev/rules.d/", "plug it in again"})
        EXPECT_NE(messages[0].find(part), std::string::npos) << part;
    EXPECT_FALSE(window->state().DeviceFound);
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
} // namespace quorvane::test

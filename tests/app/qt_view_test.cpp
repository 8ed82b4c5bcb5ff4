// The Qt view of the window on Qt's offscreen platform: what only it does. The window's
// behaviour is tested once, in tests/window.
#include "qt_view.h"

#include "frmMain.h"

#include "tarvex_fixture.h"
#include "temp_dir.h"
#include "virtual_platform.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

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

class QtViewTest : public ::testing::Test {
protected:
    QWidget* widget(const char* name) const { return view.findChild<QWidget*>(name); }
    QString text(const char* name) const { return widget(name)->property("text").toString(); }
    QAccessibleInterface* accessible(const char* name) const {
        return QAccessible::queryAccessibleInterface(widget(name));
    }

    TempDir dir;
    VirtualClock clock;
    VirtualPlatform device{clock, defaultTarvexConfig()};
    QtView view;
    // The image's folder has markup in its name: text the program did not write is shown as
    // written.
    frmMain window{view, device, dir.path() / "fw<b>new</b>" / "quorvane.bin"};
};

TEST_F(QtViewTest, LayoutCaptionsFontsAndColoursFollowTheTable) {
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Firmware Update"));
    EXPECT_EQ(view.size(), QSize(361, 245)); // 5415 x 3675 twips, fixed
    EXPECT_EQ(view.maximumSize(), view.minimumSize());
    // Where a few controls sit, in twips: the fields' frame, the buttons, the bar at full width.
    for (const auto& [name, r] : {std::pair{"Frame1", QRect(120, 0, 5175, 1695)},
                                  {"btnUpgradeFW", QRect(840, 2280, 3735, 495)},
                                  {"Command2", QRect(840, 2940, 3735, 495)},
                                  {"Pic", QRect(180, 1920, 5055, 75)}})
        EXPECT_EQ(widget(name)->geometry(), QRect(r.topLeft() / 15, r.size() / 15)) << name;
    EXPECT_EQ(text("btnUpgradeFW"), QStringLiteral("Upgrade Firmware"));
    EXPECT_EQ(text("Command2"), QStringLiteral("Force Bootloader Mode"));
    // The fields read as fields on the frame; the bar is drawn in its colour, before its frame.
    const QImage picture = view.grab().toImage();
    const QColor field = view.palette().color(QPalette::Base);
    std::vector<const char*> written{"btnUpgradeFW", "Command2"};
    for (const Field& f : Fields) {
        EXPECT_EQ(widget(f.name)->parentWidget(), widget("Frame1")) << f.name;
        EXPECT_EQ(picture.pixelColor(widget(f.name)->mapTo(&view, QPoint(200, 20))), field);
        EXPECT_EQ(accessible(f.name)->text(QAccessible::Name), QString::fromLatin1(f.rowName));
        written.insert(written.end(), {f.name, f.row});
    }
    for (const char* name : written)
        EXPECT_EQ(widget(name)->font().toString().section(',', 0, 1), "MS Sans Serif,9.75") << name;
    EXPECT_EQ(picture.pixelColor(widget("Pic")->geometry().center()), QColor(128, 128, 255));
    // The bar's sunken frame is drawn by the window, 60 twips round the bar; it is no control.
    EXPECT_EQ(widget("Picture1"), nullptr);
    EXPECT_NE(picture.pixelColor(120 / 15, 1860 / 15), view.palette().color(QPalette::Window));
    EXPECT_EQ(accessible("Pic")->role(), QAccessible::ProgressBar);
}

// From the keyboard alone: Tab to the next button, Enter presses it, Ctrl+Enter nothing; each
// field reads out what it shows.
TEST_F(QtViewTest, TheKeyboardPressesAButtonAndTheFieldsReadOut) {
    window.Form_Load();
    for (const Field& f : Fields)
        EXPECT_EQ(text(f.name), QString::fromLatin1(f.shown)) << f.name;
    EXPECT_TRUE(widget("Pic")->isHidden());
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    EXPECT_EQ(QApplication::focusWidget(), widget("btnUpgradeFW"));
    QTest::keyClick(&view, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), widget("Command2"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // the Tarvex's bootloader
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
    EXPECT_EQ(text("lblProduct"), QStringLiteral(" Tarvex Bootloader"));
    for (const Field& f : Fields)
        EXPECT_EQ(accessible(f.name)->text(QAccessible::Value), text(f.name).mid(1));
    QAccessibleTextInterface* chars = accessible("lblManuf")->textInterface();
    EXPECT_EQ(chars->text(0, chars->characterCount()), QStringLiteral("Tarvex Devices"));
    // Selected through assistive technology: the characters shown after the space.
    chars->setSelection(0, 0, 6);
    EXPECT_EQ(static_cast<QLabel*>(widget("lblManuf"))->selectedText(), QStringLiteral("Tarvex"));
}

// A message is a modal box of the window's, in plain text, that holds the command until it is
// acknowledged; a notice is a box of the window's that holds nothing up.
TEST_F(QtViewTest, MessagesAreModalBoxesAndNoticesAreNot) {
    window.Form_Load();
    QString shown;
    bool modal = false, owned = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->text(), modal = box->isModal(), owned = box->parentWidget() == &view;
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        box->accept();
    });
    static_cast<QAbstractButton*>(widget("btnUpgradeFW"))->click(); // the image is missing
    EXPECT_TRUE(shown.contains(QStringLiteral("fw<b>new</b>"))) << shown.toStdString();
    EXPECT_TRUE(modal);
    EXPECT_TRUE(owned);

    view.showNotice("still finishing");
    auto* notice = view.findChild<QMessageBox*>();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_FALSE(notice->isModal());
    EXPECT_EQ(notice->text(), QStringLiteral("still finishing"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
} // namespace quorvane::test

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

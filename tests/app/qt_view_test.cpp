// The Qt view of the window on Qt's offscreen platform: what only it does (the behaviour is in
// tests/window, what a screen reader reads of it in atspi_window.py).
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

class QtViewTest : public ::testing::Test {
protected:
    QWidget* widget(const char* name) const { return view.findChild<QWidget*>(name); }
    QString text(const char* name) const { return widget(name)->property("text").toString(); }

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
    for (const auto& [name, row] : {std::pair{"lblManuf", "Label4"},
                                    {"lblProduct", "Label5"},
                                    {"lblVersion", "Label2"},
                                    {"lblSerialNumber", "Label3"}}) {
        EXPECT_EQ(widget(name)->parentWidget(), widget("Frame1")) << name;
        EXPECT_EQ(picture.pixelColor(widget(name)->mapTo(&view, QPoint(200, 20))), field);
        written.insert(written.end(), {name, row});
    }
    for (const char* name : written)
        EXPECT_EQ(widget(name)->font().toString().section(',', 0, 1), "MS Sans Serif,9.75") << name;
    EXPECT_EQ(picture.pixelColor(widget("Pic")->geometry().center()), QColor(128, 128, 255));
    // The bar's sunken frame is drawn by the window, 60 twips round the bar; it is no control.
    EXPECT_EQ(widget("Picture1"), nullptr);
    EXPECT_NE(picture.pixelColor(120 / 15, 1860 / 15), view.palette().color(QPalette::Window));
}

// Enter presses a button, Ctrl+Enter nothing; assistive technology selects in a field the
// characters shown after its leading space.
TEST_F(QtViewTest, EnterPressesAButtonAndAFieldSelectsWhatItShows) {
    window.Form_Load();
    EXPECT_TRUE(widget("Pic")->isHidden());
    QTest::keyClick(widget("Command2"), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 0);
    QTest::keyClick(widget("Command2"), Qt::Key_Return);
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
    auto* manuf = static_cast<QLabel*>(widget("lblManuf"));
    QAccessible::queryAccessibleInterface(manuf)->textInterface()->setSelection(0, 0, 6);
    EXPECT_EQ(manuf->selectedText(), QStringLiteral("Tarvex"));
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

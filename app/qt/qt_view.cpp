#include "qt_view.h"

#include "app_identity.h"
#include "controls.h"
#include "window_layout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorvane {

namespace {

using layout::TwipRect;

const TwipRect& rectOf(const char* name) {
    return layout::control(name).rect;
}

void place(QWidget* widget, const TwipRect& r) {
    widget->setGeometry(twipsToPixels(r.left), twipsToPixels(r.top), twipsToPixels(r.width),
                        twipsToPixels(r.height));
}

QFont controlFont() {
    // Where the design's font is missing, fonts of about its width stand in before the
    // system's default sans serif, so the captions fit their fixed boxes.
    static const bool substitutesRegistered = [] {
        const QString family = QString::fromLatin1(layout::FontFamily);
        if (QFont::substitutes(family).isEmpty())
            QFont::insertSubstitutions(family,
                                       {QStringLiteral("Microsoft Sans Serif"),
                                        QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                        QStringLiteral("Arial"), QStringLiteral("Helvetica")});
        return true;
    }();
    (void)substitutesRegistered;
    QFont font(QString::fromLatin1(layout::FontFamily));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(layout::FontPoints);
    font.setWeight(QFont::Normal);
    return font;
}

// A label of the layout table: its caption, font and place.
template <typename Label = QLabel> Label* makeLabel(QWidget* parent, const char* name) {
    const layout::Control& c = layout::control(name);
    auto* label = new Label(QString::fromUtf8(c.caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(controlFont());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(label, c.rect);
    return label;
}

// A value label reads as a field: window background, window text. The static label naming its
// row is its buddy; the field is announced by its row's name.
FieldLabel* makeValueLabel(QWidget* parent, const char* name, QLabel* rowName) {
    auto* label = makeLabel<FieldLabel>(parent, name);
    label->setTextFormat(Qt::PlainText); // the device's strings, shown as the device spells them
    label->setBackgroundRole(QPalette::Base);
    label->setForegroundRole(QPalette::Text);
    label->setAutoFillBackground(true);
    label->setAccessibleName(QString::fromUtf8(layout::control(name).accessibleName));
    rowName->setBuddy(label);
    return label;
}

CommandButton* makeButton(QWidget* parent, const char* name) {
    const layout::Control& c = layout::control(name);
    auto* button = new CommandButton(QString::fromUtf8(c.caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(controlFont());
    button->setAutoDefault(false);
    place(button, c.rect);
    return button;
}

} // namespace

int twipsToPixels(double twips) {
    return static_cast<int>(std::lround(twips / TwipsPerPixel));
}

QtView::QtView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    // No application display name is ever set, so the platform shows this caption unchanged.
    setWindowTitle(QString::fromLatin1(layout::WindowCaption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(layout::ClientWidth), twipsToPixels(layout::ClientHeight));
    installAccessibleControls();
    buildControls();
}

void QtView::buildControls() {
    // Created in the table's order, which is the order assistive technology reads them in.
    auto* Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setAccessibleName(QString::fromLatin1(layout::control("Frame1").accessibleName));
    place(Frame1, rectOf("Frame1"));

    QLabel* rowName = nullptr; // each field follows the caption that names its row
    std::size_t field = 0;
    for (const layout::Control& c : layout::Controls) {
        if (c.kind == layout::Kind::RowName)
            rowName = makeLabel(Frame1, c.name);
        else if (c.kind == layout::Kind::Field)
            fields_.at(field++) = makeValueLabel(Frame1, c.name, rowName);
    }

    btnUpgradeFW = makeButton(this, "btnUpgradeFW");
    Command2 = makeButton(this, "Command2");

    Pic = new ProgressStrip(this);
    Pic->setObjectName(QStringLiteral("Pic"));
    Pic->setAccessibleName(QString::fromLatin1(layout::control("Pic").accessibleName));
    Pic->setFrameShape(QFrame::NoFrame);
    QPalette barPalette = Pic->palette();
    barPalette.setColor(QPalette::Window,
                        QColor(layout::BarRed, layout::BarGreen, layout::BarBlue));
    Pic->setPalette(barPalette);
    Pic->setBackgroundRole(QPalette::Window);
    Pic->setAutoFillBackground(true);
    place(Pic, rectOf("Pic"));

    status_ = new StatusNote(this);

    // The focus chain in the table's order: the fields, then the buttons.
    QWidget* previous = nullptr;
    for (const layout::Control& c : layout::Controls) {
        auto* next = findChild<QWidget*>(QString::fromLatin1(c.name));
        if (next == nullptr || next->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }

    connect(btnUpgradeFW, &QPushButton::clicked, this, [this] {
        if (events_)
            events_->btnUpgradeFW_Click();
    });
    connect(Command2, &QPushButton::clicked, this, [this] {
        if (events_)
            events_->Command2_Click();
    });
}

void QtView::show() {
    btnUpgradeFW->setFocus(); // the window's first focus, though the fields come first in Tab
    QWidget::show();
}

void QtView::setFieldText(InfoLabel field, const std::u16string& text) {
    fields_.at(static_cast<std::size_t>(field))->setFieldText(QString::fromStdU16String(text));
}

void QtView::setUpgradeCaption(const std::string& caption) {
    btnUpgradeFW->setText(QString::fromStdString(caption));
}

void QtView::setCommandsEnabled(bool upgrade, bool bootloader) {
    keepFocus_ = true;
    btnUpgradeFW->setEnabled(upgrade);
    Command2->setEnabled(bootloader);
    keepFocus_ = false;
    // A box that closed meanwhile could not give the focus back to a disabled button.
    QWidget* kept = focusWidget();
    if (kept != nullptr && kept->isEnabled() && QApplication::focusWidget() == nullptr &&
        isActiveWindow())
        kept->setFocus(Qt::OtherFocusReason);
}

void QtView::announce(const std::string& text) {
    status_->say(QString::fromStdString(text));
}

bool QtView::focusNextPrevChild(bool next) {
    if (keepFocus_)
        return true; // the disabled button keeps the focus: the user's place is not lost
    return QWidget::focusNextPrevChild(next);
}

void QtView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const TwipRect& r = rectOf("Picture1");
    qDrawWinPanel(&painter, twipsToPixels(r.left), twipsToPixels(r.top), twipsToPixels(r.width),
                  twipsToPixels(r.height), palette(), true);
}

void QtView::setBarVisible(bool visible) {
    Pic->setVisible(visible);
}

void QtView::setBarWidth(float twips, double percent) {
    Pic->resize(std::max(0, twipsToPixels(twips)), Pic->height());
    Pic->setPercent(percent);
}

void QtView::repaintBar() {
    Pic->repaint();
}

void QtView::processEvents() {
    QCoreApplication::processEvents();
}

void QtView::showMessage(const std::string& message) {
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(ApplicationTitle),
                    QString::fromStdString(message), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText); // paths and device strings, shown as written
    box.exec();
}

void QtView::showNotice(const std::string& message) {
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromUtf8(ApplicationTitle),
                                QString::fromStdString(message), QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

bool QtView::askStop(const std::string& question) {
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(ApplicationTitle),
                    QString::fromStdString(question), QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    QPushButton* stop = box.addButton(QStringLiteral("Stop"), QMessageBox::DestructiveRole);
    box.setDefaultButton(box.addButton(QStringLiteral("Continue"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == stop;
}

void QtView::later(int ms, std::function<void()> action) {
    QTimer::singleShot(ms, this, std::move(action));
}

void QtView::watchInterfaces(int descriptor) {
    if (descriptor < 0)
        return;
    connect(new QSocketNotifier(descriptor, QSocketNotifier::Read, this),
            &QSocketNotifier::activated, this, [this] {
                if (events_)
                    events_->changeNewsReady();
            });
}

void QtView::closeWindow() {
    gone_ = true;
    close();
}

void QtView::pressUpgrade() {
    btnUpgradeFW->click();
}

int QtView::run() {
    return gone_ ? 0 : QApplication::exec();
}

void QtView::endRequested() {
    if (gone_ || events_ == nullptr)
        return;
    events_->endAsked();
    for (QMessageBox* box : findChildren<QMessageBox*>())
        if (box->isModal() && box->isVisible())
            box->done(QDialog::Rejected);
}

void QtView::closeEvent(QCloseEvent* event) {
    if (gone_ || events_ == nullptr || events_->closeAsked()) {
        gone_ = true;
        event->accept();
        return;
    }
    event->ignore();
}

} // namespace quorvane

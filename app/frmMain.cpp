#include "frmMain.h"

#include "app_identity.h"
#include "captions.h"
#include "controls.h"
#include "device_info.h"
#include "discovery.h"
#include "discovery_messages.h"
#include "window_layout.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <exception>
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

const char* labelName(InfoLabel label) {
    switch (label) {
    case InfoLabel::Manufacturer:
        return "lblManuf";
    case InfoLabel::Product:
        return "lblProduct";
    case InfoLabel::Version:
        return "lblVersion";
    case InfoLabel::SerialNumber:
        return "lblSerialNumber";
    }
    return "?";
}

} // namespace

int twipsToPixels(double twips) {
    return static_cast<int>(std::lround(twips / TwipsPerPixel));
}

frmMain::frmMain(HidPlatform& api, std::filesystem::path imagePath, CommandServices services,
                 QWidget* parent)
    : QWidget(parent), ctx_{api, *this, state_},
      updater_(ctx_, std::move(imagePath), std::move(services)) {
    setObjectName(QStringLiteral("frmMain"));
    // No application display name is ever set, so the platform shows this caption unchanged.
    setWindowTitle(QString::fromLatin1(layout::WindowCaption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipsToPixels(layout::ClientWidth), twipsToPixels(layout::ClientHeight));
    installAccessibleControls();
    notifier_ = [this](const std::string& message, bool modal) {
        auto* box = new QMessageBox(modal ? QMessageBox::Warning : QMessageBox::Information,
                                    QString::fromUtf8(ApplicationTitle),
                                    QString::fromStdString(message), QMessageBox::Ok, this);
        box->setTextFormat(Qt::PlainText); // paths and device strings, shown as written
        box->setAttribute(Qt::WA_DeleteOnClose);
        if (modal) {
            box->exec();
            return;
        }
        box->setModal(false);
        box->show();
    };
    asker_ = [this](const std::string& question) {
        QMessageBox box(QMessageBox::Question, QString::fromUtf8(ApplicationTitle),
                        QString::fromStdString(question), QMessageBox::NoButton, this);
        box.setTextFormat(Qt::PlainText);
        QPushButton* stop = box.addButton(QStringLiteral("Stop"), QMessageBox::DestructiveRole);
        box.setDefaultButton(box.addButton(QStringLiteral("Continue"), QMessageBox::RejectRole));
        box.exec();
        return box.clickedButton() == stop;
    };
    buildControls();
}

frmMain::~frmMain() {
    Form_Terminate();
}

void frmMain::buildControls() {
    // Created in tab order, so the focus chain starts out as the layout intends.
    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setAccessibleName(QString::fromLatin1(layout::control("Frame1").accessibleName));
    place(Frame1, rectOf("Frame1"));

    Label3 = makeLabel(Frame1, "Label3");
    Label4 = makeLabel(Frame1, "Label4");
    Label5 = makeLabel(Frame1, "Label5");
    Label2 = makeLabel(Frame1, "Label2");
    lblManuf = makeValueLabel(Frame1, "lblManuf", Label4);
    lblProduct = makeValueLabel(Frame1, "lblProduct", Label5);
    lblVersion = makeValueLabel(Frame1, "lblVersion", Label2);
    lblSerialNumber = makeValueLabel(Frame1, "lblSerialNumber", Label3);

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
    picWidthTwips_ = static_cast<float>(rectOf("Pic").width);

    // The bar's frame lies behind the bar.
    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    place(Picture1, rectOf("Picture1"));
    Picture1->stackUnder(Pic);

    // The focus chain in the table's order.
    QWidget* previous = nullptr;
    for (const layout::Control& c : layout::Controls) {
        auto* next = findChild<QWidget*>(QString::fromLatin1(c.name));
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }

    connect(btnUpgradeFW, &QPushButton::clicked, this, &frmMain::btnUpgradeFW_Click);
    connect(Command2, &QPushButton::clicked, this, &frmMain::Command2_Click);
}

void frmMain::btnUpgradeFW_Click() {
    runCommand([this] { updater_.upgrade(); });
}

void frmMain::Command2_Click() {
    runCommand([this] { updater_.forceBootloader(); });
}

void frmMain::Form_Load() {
    // Run as a command: a close that arrives while the window comes up waits for it.
    runCommand([this] {
        show();
        // Let the window reach the screen before discovery holds up the thread.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        state_.ProgressFullWidth = static_cast<std::int16_t>(std::lround(picWidthTwips_));
        Pic->hide();
        watchInterfaces(); // before the discovery, so that no change after it goes unseen
        // Nothing runs yet that a box could hold up.
        if (!FindAndShowDevice(ctx_) && !state_.AccessDeniedPath.empty())
            tellUser(deniedAccessAdvice(ThisSystem, state_.AccessDeniedPath, false));
    });
}

void frmMain::watchInterfaces() {
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(300);
    connect(settle_, &QTimer::timeout, this, &frmMain::rediscover);
    const auto changed = [this] {
        if (ctx_.api.interfacesChanged())
            settle_->start(); // again: the burst goes on
    };
    if (const int fd = ctx_.api.changeDescriptor(); fd >= 0) {
        connect(new QSocketNotifier(fd, QSocketNotifier::Read, this), &QSocketNotifier::activated,
                this, changed);
    } else {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, changed);
        poll->start(250);
    }
    ctx_.api.interfacesChanged(); // what is there now is what the load finds
}

void frmMain::rediscover() {
    // During a command its own waits do the discovery.
    runCommand([this] {
        if (follower_.rediscover(ctx_))
            settle_->start(1000); // a refused node, once more
    });
}

void frmMain::Form_Unload() {
    closeDeviceHandles(ctx_);
    unloaded_ = true;
}

void frmMain::Form_Terminate() {
    closeDeviceHandles(ctx_);
}

void frmMain::setNotifier(Notifier notifier) {
    if (notifier)
        notifier_ = std::move(notifier);
}

void frmMain::setAsker(Asker asker) {
    if (asker)
        asker_ = std::move(asker);
}

template <typename Handler> void frmMain::runCommand(Handler&& handler) {
    // A click delivered while a command processes window events waits for nothing: it is
    // ignored, so one command runs at a time.
    if (unloaded_ || running_)
        return;
    running_ = true;
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& e) {
        tellUser(std::string("The command stopped: ") + e.what());
    }
    running_ = false;
    finishPendingClose();
}

void frmMain::finishPendingClose() {
    if (running_ || !closeRequested_ || unloaded_)
        return;
    Form_Unload();
    close();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (unloaded_) {
        event->accept();
        return;
    }
    if (running_) {
        // The running command sees closeRequested() at its next check: a wait returns at once,
        // the transfer asks first. The window closes after it has returned.
        if (!closeRequested_)
            trace("close requested while a command runs");
        closeRequested_ = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

FieldLabel* frmMain::valueLabel(InfoLabel label) const {
    switch (label) {
    case InfoLabel::Manufacturer:
        return lblManuf;
    case InfoLabel::Product:
        return lblProduct;
    case InfoLabel::Version:
        return lblVersion;
    case InfoLabel::SerialNumber:
        return lblSerialNumber;
    }
    return lblManuf;
}

void frmMain::setLabel(InfoLabel label, const std::u16string& text) {
    FieldLabel* target = valueLabel(label);
    // A field's text stands one space off its left edge.
    const QString value =
        text.empty() ? QString() : QLatin1Char(' ') + QString::fromStdU16String(text);
    if (target->text() == value)
        return;
    target->setFieldText(value);
    trace(std::string(labelName(label)) + " = \"" + value.toStdString() + "\"");
}

std::string frmMain::label(InfoLabel label) const {
    return valueLabel(label)->text().toStdString();
}

void frmMain::setUpgradeCaption(const std::string& caption) {
    const QString value = QString::fromStdString(caption);
    if (btnUpgradeFW->text() == value)
        return;
    btnUpgradeFW->setText(value);
    trace("btnUpgradeFW caption = \"" + caption + "\"");
}

void frmMain::setUpgradeEnabled(bool enabled) {
    if (btnUpgradeFW->isEnabled() == enabled)
        return;
    btnUpgradeFW->setEnabled(enabled);
    trace(enabled ? "btnUpgradeFW enabled" : "btnUpgradeFW disabled");
}

void frmMain::setProgressVisible(bool visible) {
    if (Pic->isVisibleTo(this) == visible)
        return;
    Pic->setVisible(visible);
    trace(visible ? "Pic shown" : "Pic hidden");
}

void frmMain::setProgress(float twips, double percent) {
    if (twips == picWidthTwips_)
        return;
    picWidthTwips_ = twips;
    Pic->resize(std::max(0, twipsToPixels(twips)), Pic->height());
    Pic->setPercent(percent);
    std::array<char, 64> line{};
    std::snprintf(line.data(), line.size(), "Pic width = %.1f twips (%.0f%%)",
                  static_cast<double>(twips), percent);
    trace(line.data());
}

void frmMain::repaintProgress() {
    Pic->repaint();
}

void frmMain::processEvents() {
    QCoreApplication::processEvents();
}

bool frmMain::confirmStop(const std::string& question) {
    trace("question: " + question);
    const bool stop = asker_(question);
    closeRequested_ = stop;
    return stop;
}

void frmMain::tellUser(const std::string& message) {
    trace("message: " + message);
    notifier_(message, true);
}

void frmMain::notify(const std::string& message) {
    trace("notice: " + message);
    notifier_(message, false);
}

void frmMain::unload() {
    trace("unload");
    closeRequested_ = true;
    finishPendingClose();
}

void frmMain::trace(const std::string& line) const {
    if (trace_)
        trace_(line);
}

} // namespace quorvane

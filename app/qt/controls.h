// The window's own kinds of control, so that it works from the keyboard alone and with
// assistive technology: a field that takes the focus, is announced by its row's name as
// read-only text and reads out the text it shows, a command button that Enter activates as well
// as Space, the progress strip, which reports its percentage as an accessible value, and the
// status note that announces a command's result.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace quorvane {

// A value label: read-only text that the keyboard reaches and selects. Its accessible name is
// its row's name (the static label naming the row has it as its buddy); its accessible value
// and text are what it shows, without the space before it.
class FieldLabel : public QLabel {
    Q_OBJECT

public:
    explicit FieldLabel(const QString& text, QWidget* parent = nullptr);

    // Shows `text` and tells assistive technology that the text changed.
    void setFieldText(const QString& text);
};

// A push button that Return and Enter click too, as Space does, when it has the focus.
class CommandButton : public QPushButton {
    Q_OBJECT

public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The progress bar: a coloured strip whose width the transfer sets. It also holds the
// percentage that width stands for, which assistive technology reads as the bar's value.
class ProgressStrip : public QFrame {
    Q_OBJECT

public:
    using QFrame::QFrame;

    double percent() const { return percent_; }
    // Clamped to 0..100; assistive technology is told of every change.
    void setPercent(double percent);

private:
    double percent_ = 0.0;
};

// Says a command's result to assistive technology: an object of the notification role whose
// name is the result, shown anew for each (a screen reader speaks a notification that turns
// showing). It draws nothing and takes no room.
class StatusNote : public QWidget {
    Q_OBJECT

public:
    explicit StatusNote(QWidget* parent);
    void say(const QString& text);
};

// Makes Qt describe the window as a window, and FieldLabel, ProgressStrip and StatusNote through
// their own accessible interfaces.
// Needed before the first of them is queried; calling it again does nothing.
void installAccessibleControls();

} // namespace quorvane

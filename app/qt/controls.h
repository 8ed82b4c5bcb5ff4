// The window's own kinds of control, so that it works from the keyboard alone and with
// assistive technology: a field that is announced by its row's name and reads out the text it
// shows, a command button that Enter activates as well as Space, and the progress strip, which
// reports its percentage as an accessible value.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace quorvane {

// A value label. Its accessible name is its row's name (the static label naming the row has it
// as its buddy); its accessible value and text are what it shows.
class FieldLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

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

// Makes Qt describe FieldLabel and ProgressStrip through their own accessible interfaces.
// Needed before the first of them is queried; calling it again does nothing.
void installAccessibleControls();

} // namespace quorvane

#include "controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QKeyEvent>

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

// A field as assistive technology sees it: static text named after its row, whose value and
// text are what it shows. Read-only: no caret, no selection.
class FieldAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit FieldAccessible(FieldLabel* field)
        : QAccessibleWidget(field, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return shown();
        return QAccessibleWidget::text(t);
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // QAccessibleTextInterface
    void selection(int /*selectionIndex*/, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int /*startOffset*/, int /*endOffset*/) override {}
    void removeSelection(int /*selectionIndex*/) override {}
    void setSelection(int /*selectionIndex*/, int /*startOffset*/, int /*endOffset*/) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int /*position*/) override {}
    QString text(int startOffset, int endOffset) const override {
        const QString all = shown();
        const int start = std::clamp(startOffset, 0, static_cast<int>(all.size()));
        const int end = std::clamp(endOffset, start, static_cast<int>(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(shown().size()); }
    // The field draws its text from the top left of its contents, on one line.
    QRect characterRect(int offset) const override {
        const QString all = shown();
        if (offset < 0 || offset >= all.size())
            return {};
        const QFontMetrics metrics(widget()->font());
        const QPoint origin = widget()->mapToGlobal(widget()->contentsRect().topLeft());
        return {origin.x() + metrics.horizontalAdvance(all.left(offset)), origin.y(),
                metrics.horizontalAdvance(all.at(offset)), metrics.height()};
    }
    int offsetAtPoint(const QPoint& point) const override {
        for (int i = 0; i < characterCount(); ++i)
            if (characterRect(i).contains(point))
                return i;
        return -1;
    }
    void scrollToSubstring(int /*startIndex*/, int /*endIndex*/) override {}
    QString attributes(int /*offset*/, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

private:
    QString shown() const { return static_cast<const QLabel*>(widget())->text(); }
};

// The progress strip as a progress bar from 0 to 100 per cent.
class ProgressAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressAccessible(ProgressStrip* strip)
        : QAccessibleWidget(strip, QAccessible::ProgressBar) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return QString::number(std::lround(strip()->percent())) + QLatin1Char('%');
        return QAccessibleWidget::text(t);
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // QAccessibleValueInterface; the transfer alone moves the bar.
    QVariant currentValue() const override { return strip()->percent(); }
    void setCurrentValue(const QVariant& /*value*/) override {}
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.0; }

private:
    const ProgressStrip* strip() const { return static_cast<const ProgressStrip*>(widget()); }
};

QAccessibleInterface* accessibleControl(const QString& /*className*/, QObject* object) {
    if (auto* field = qobject_cast<FieldLabel*>(object))
        return new FieldAccessible(field);
    if (auto* strip = qobject_cast<ProgressStrip*>(object))
        return new ProgressAccessible(strip);
    return nullptr;
}

} // namespace

void FieldLabel::setFieldText(const QString& text) {
    const QString previous = this->text();
    if (previous == text)
        return;
    setText(text);
    QAccessibleTextUpdateEvent event(this, 0, previous, text);
    QAccessible::updateAccessibility(&event);
}

void CommandButton::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (enter && (modifiers == Qt::NoModifier || modifiers == Qt::KeypadModifier)) {
        // Holding the key down clicks once.
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void ProgressStrip::setPercent(double percent) {
    const double value = std::clamp(percent, 0.0, 100.0);
    if (value == percent_)
        return;
    percent_ = value;
    QAccessibleValueChangeEvent event(this, percent_);
    QAccessible::updateAccessibility(&event);
}

void installAccessibleControls() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleControl);
        return true;
    }();
    (void)installed;
}

} // namespace quorvane

#include "controls.h"

#include "field_text.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QKeyEvent>

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

// A field as assistive technology sees it: read-only text named after its row, whose value and
// text are what it shows, without the space before it; its selection is the label's own.
class FieldAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit FieldAccessible(FieldLabel* field)
        : QAccessibleWidget(field, QAccessible::EditableText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return spoken();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.editable = false;
        s.selectableText = true;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // QAccessibleTextInterface, in offsets of the spoken text.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = 0;
        if (selectionIndex != 0 || !label()->hasSelectedText())
            return;
        *startOffset = std::max(0, label()->selectionStart() - skipped());
        *endOffset = *startOffset + static_cast<int>(label()->selectedText().size());
    }
    int selectionCount() const override { return label()->hasSelectedText() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int /*selectionIndex*/) override { label()->setSelection(0, 0); }
    void setSelection(int /*selectionIndex*/, int startOffset, int endOffset) override {
        const int start = std::clamp(startOffset, 0, characterCount());
        const int end = std::clamp(endOffset, start, characterCount());
        label()->setSelection(start + skipped(), end - start);
    }
    int cursorPosition() const override {
        int start = 0, end = 0;
        selection(0, &start, &end);
        return end;
    }
    void setCursorPosition(int position) override { setSelection(0, position, position); }
    QString text(int startOffset, int endOffset) const override {
        const QString all = spoken();
        const int start = std::clamp(startOffset, 0, static_cast<int>(all.size()));
        const int end = std::clamp(endOffset, start, static_cast<int>(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(spoken().size()); }
    // The field draws its text from the top left of its contents, on one line.
    QRect characterRect(int offset) const override {
        const QString all = label()->text();
        const int at = offset + skipped();
        if (offset < 0 || at >= all.size())
            return {};
        const QFontMetrics metrics(widget()->font());
        const QPoint origin = widget()->mapToGlobal(widget()->contentsRect().topLeft());
        return {origin.x() + metrics.horizontalAdvance(all.left(at)), origin.y(),
                metrics.horizontalAdvance(all.at(at)), metrics.height()};
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
    const QLabel* label() const { return static_cast<const QLabel*>(widget()); }
    QLabel* label() { return static_cast<QLabel*>(widget()); }
    QString spoken() const {
        const std::u16string shown = label()->text().toStdU16String();
        return QString::fromStdU16String(std::u16string(spokenFieldText(shown)));
    }
    // The characters shown before the spoken text.
    int skipped() const { return static_cast<int>(label()->text().size() - spoken().size()); }
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
    if (auto* note = qobject_cast<StatusNote*>(object))
        return new QAccessibleWidget(note, QAccessible::Notification);
    // The program's window, named by its caption; a plain QWidget would be a mere client area.
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && widget->isWindow() && widget->objectName() == QLatin1String("frmMain"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

} // namespace

FieldLabel::FieldLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    // Taking the focus from Tab, with a caret and a selection, as read-only text does.
    setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    setFocusPolicy(Qt::StrongFocus);
}

void FieldLabel::setFieldText(const QString& text) {
    const QString previous = this->text();
    if (previous == text)
        return;
    setText(text);
    const auto spoken = [](const QString& shown) {
        const std::u16string all = shown.toStdU16String();
        return QString::fromStdU16String(std::u16string(spokenFieldText(all)));
    };
    QAccessibleTextUpdateEvent event(this, 0, spoken(previous), spoken(text));
    QAccessible::updateAccessibility(&event);
}

StatusNote::StatusNote(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 1, 1); // showing, yet nothing to see
    hide();                  // until there is something to say
}

void StatusNote::say(const QString& text) {
    // Hidden and shown again, so that the same result twice is said twice.
    hide();
    setAccessibleName(text);
    show();
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

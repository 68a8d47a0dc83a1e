#include "qt/readable_text.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QLineEdit>

namespace kestrafin::qt {

namespace {

constexpr char kReadable[] = "kestrafin_readable";
constexpr char kSpoken[] = "kestrafin_spoken";

QString text_of(const QWidget* widget) {
    const QString spoken = widget->property(kSpoken).toString();
    if (!spoken.isEmpty()) return spoken;
    if (const auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
    if (const auto* box = qobject_cast<const QLineEdit*>(widget)) return box->text();
    return {};
}

class ReadableText : public QAccessibleWidget {
  public:
    explicit ReadableText(QWidget* widget) : QAccessibleWidget(widget, QAccessible::StaticText) {}

    QString text(QAccessible::Text kind) const override {
        const QString shown = text_of(widget());
        if (kind == QAccessible::Value) return shown;
        if (kind != QAccessible::Name) return QAccessibleWidget::text(kind);
        const QString name = widget()->accessibleName();
        if (shown.isEmpty()) return name;
        return name.isEmpty() ? shown : name + QStringLiteral(": ") + shown;
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.editable = false;
        return state;
    }
};

QAccessibleInterface* readable_text(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr || !widget->property(kReadable).toBool()) return nullptr;
    return new ReadableText(widget);
}

}  // namespace

void make_readable(QWidget* widget) {
    static const bool installed = [] {
        QAccessible::installFactory(readable_text);
        return true;
    }();
    (void)installed;
    // Before any interface is made for it: Qt keeps the first one.
    widget->setProperty(kReadable, true);
}

void set_spoken_text(QWidget* widget, const QString& text) {
    widget->setProperty(kSpoken, text);
}

void tell_text_changed(QWidget* widget) {
    QAccessibleEvent renamed(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    QAccessibleValueChangeEvent changed(widget, text_of(widget));
    QAccessible::updateAccessibility(&changed);
}

}  // namespace kestrafin::qt

#include "desktop/accessibility.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QVariant>

namespace bl::desktop {

namespace {

const char* const kKindProperty = "blAccessibleKind";

QString plainText(const QWidget* widget) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    const auto* label = qobject_cast<const QLabel*>(widget);
    return label != nullptr ? label->text() : QString();
}

class ReadOnlyText : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    ReadOnlyText(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text type) const override {
        // A status line is known by what it says.
        if (type == QAccessible::Name && role() == QAccessible::StatusBar &&
            widget()->accessibleName().isEmpty()) {
            return plainText(widget());
        }
        return QAccessibleWidget::text(type);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.editable = false;
        return state;
    }

    // The text as one run, without a selection; the caret where the field has it.
    QString text(int start, int end) const override {
        return plainText(widget()).mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(plainText(widget()).size()); }
    int cursorPosition() const override {
        const auto* edit = qobject_cast<const QLineEdit*>(widget());
        return edit != nullptr ? edit->cursorPosition() : 0;
    }
    void setCursorPosition(int position) override {
        if (auto* edit = qobject_cast<QLineEdit*>(widget())) {
            edit->setCursorPosition(position);
        }
    }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }
};

class LabelledChoice : public QAccessibleWidget {
  public:
    explicit LabelledChoice(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text type) const override {
        return type == QAccessible::Value ? box()->currentText() : QAccessibleWidget::text(type);
    }
    // The list of choices, shown when the box opens.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == box()->view() ? 0 : -1;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.hasPopup = true;
        state.expandable = true;
        state.expanded = box()->view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }
    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction()) {
            box()->showPopup();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

  private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

class Disclosure : public QAccessibleWidget {
  public:
    explicit Disclosure(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = button()->isChecked();
        state.collapsed = !state.expanded;
        return state;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            button()->click();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

  private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* interfaceFor(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    const QVariant kind = widget != nullptr ? widget->property(kKindProperty) : QVariant();
    if (!kind.isValid()) {
        return nullptr;
    }
    switch (static_cast<AccessibleKind>(kind.toInt())) {
        case AccessibleKind::LabelledChoice:
            return new LabelledChoice(static_cast<QComboBox*>(widget));
        case AccessibleKind::ReadOnlyText:
            return new ReadOnlyText(widget, QAccessible::EditableText);
        case AccessibleKind::StatusText:
            return new ReadOnlyText(widget, QAccessible::StatusBar);
        case AccessibleKind::Disclosure:
            return new Disclosure(static_cast<QAbstractButton*>(widget));
    }
    return nullptr;
}

}  // namespace

void setAccessibleKind(QWidget* widget, AccessibleKind kind) {
    static const bool installed = [] {
        QAccessible::installFactory(&interfaceFor);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kKindProperty, static_cast<int>(kind));
    // An interface made before, by an event while the widget was built, would
    // otherwise stay the widget's.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
    if (kind == AccessibleKind::LabelledChoice) {
        // A screen reader finds the value as the selected item of the list.
        auto* box = static_cast<QComboBox*>(widget);
        const auto select = [box](int index) {
            box->view()->selectionModel()->select(box->model()->index(index, box->modelColumn()),
                                                  QItemSelectionModel::ClearAndSelect);
        };
        select(box->currentIndex());
        QObject::connect(box, &QComboBox::currentIndexChanged, box, select);
    }
    if (kind == AccessibleKind::Disclosure) {
        auto* button = static_cast<QAbstractButton*>(widget);
        QObject::connect(button, &QAbstractButton::toggled, button, [button] {
            QAccessible::State changed;
            changed.expanded = changed.collapsed = true;
            QAccessibleStateChangeEvent event(button, changed);
            QAccessible::updateAccessibility(&event);
        });
    }
}

void setStatusText(QLabel* label, const QString& text) {
    const QString before = label->text();
    if (text == before) {
        return;
    }
    // The label announces its new name itself; the text goes with it.
    label->setText(text);
    QAccessibleTextUpdateEvent event(label, 0, before, text);
    QAccessible::updateAccessibility(&event);
}

}  // namespace bl::desktop

#include "desktop/focus_style.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QPen>
#include <QStyleOption>
#include <QStyleOptionButton>

namespace bl::desktop {

namespace {

bool keyboardFocus(const QStyleOption* option) {
    return (option->state & QStyle::State_HasFocus) &&
           (option->state & QStyle::State_KeyboardFocusChange);
}

}  // namespace

// Wraps the application's own style, whichever the platform chose.
FocusStyle::FocusStyle() : QProxyStyle(QApplication::style()->name()) {}

void FocusStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
    QProxyStyle::drawControl(element, option, painter, widget);
    if (!keyboardFocus(option)) {
        return;
    }
    const QColor highlight = option->palette.color(QPalette::Highlight);
    if (element == CE_PushButton) {
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        if (button == nullptr || !(button->features & QStyleOptionButton::DefaultButton)) {
            return;
        }
        painter->save();
        painter->setPen(QPen(highlight, 1.0, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(4, 4, -5, -5));
        painter->restore();
    } else if (element == CE_ShapedFrame && qobject_cast<const QAbstractItemView*>(widget)) {
        painter->save();
        painter->setPen(QPen(highlight, 2.0));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option->rect).adjusted(1.0, 1.0, -1.0, -1.0));
        painter->restore();
    }
}

}  // namespace bl::desktop

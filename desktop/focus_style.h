// Marks the keyboard focus where the platform style leaves it unmarked: on the
// default button, which already wears the highlighted outline the style uses
// for focus, and on the frame of a table, which has nothing to show while it is
// empty.
#pragma once

#include <QProxyStyle>

namespace bl::desktop {

class FocusStyle : public QProxyStyle {
    Q_OBJECT

  public:
    FocusStyle();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

}  // namespace bl::desktop

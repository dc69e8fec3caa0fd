// What a screen reader is told about the controls whose standard accessible
// interface says too little, or the wrong thing, on Linux: a combo box that Qt
// names by its value, a read-only field that also claims to be editable, a
// status line without a text interface, and a button that shows a section.
#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace bl::desktop {

enum class AccessibleKind {
    // A combo box named like any other field, by its accessible name or its
    // row label; the item chosen is its value.
    LabelledChoice,
    // Text the user reads but does not type, such as a field filled through a
    // dialog: readable, and read-only only.
    ReadOnlyText,
    // The window's status line: read-only text, named by what it says.
    StatusText,
    // A button that shows or hides a section: expanded or collapsed.
    Disclosure,
};

// Gives `widget` the accessible interface of `kind` from now on.
void setAccessibleKind(QWidget* widget, AccessibleKind kind);

// Puts `text` into a status line, and tells a screen reader what changed.
void setStatusText(QLabel* label, const QString& text);

}  // namespace bl::desktop

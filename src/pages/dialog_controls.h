#pragma once

#include <QRect>

class QAction;
class QLineEdit;
class QWidget;

// Controls carry their numeric dialog id as the int property "controlId",
// menu commands their command number as "commandId"; tests and tools find them by it.
inline constexpr const char *kControlIdProperty = "controlId";
inline constexpr const char *kCommandIdProperty = "commandId";

template <typename Control>
Control *WithControlId(Control *control, int id)
{
    control->setProperty(kControlIdProperty, id);
    return control;
}

void SetCommandId(QAction *action, int id);

// The first descendant of root with that control id, or null.
QWidget *FindControl(const QWidget *root, int id);

// Dialog units of the 9/10 point dialog fonts the layout was drawn in: 1 unit is
// 1.5 pixels across and 1.625 pixels down.
QRect DialogUnitsRect(int x, int y, int width, int height);

// A box that takes digits only (ports, intervals).
void AcceptDigitsOnly(QLineEdit *edit);

// A box's text read as a signed number, 0 when it is not one.
int ReadNumber(const QLineEdit *edit);

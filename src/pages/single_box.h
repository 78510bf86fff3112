#pragma once

#include <QString>

class QWidget;

// An application message box that is never shown twice at once. The receive path can fail
// again and again while its box is open (the box's loop goes on dispatching socket events):
// those failures are dropped instead of piling up nested modal loops.
class SingleBox
{
public:
    // Shows text unless this box is open already; false when it was not shown.
    bool Show(const QString &text);
    // The same with the caption "Velvane V1.03" and no icon, owned by a page.
    bool ShowPlain(QWidget *owner, const QString &text);

private:
    template <typename ShowBox>
    bool ShowOnce(ShowBox show);

    bool m_open = false;
};

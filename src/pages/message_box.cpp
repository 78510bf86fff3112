#include "pages/message_box.h"

#include <QPointer>

QMessageBox::StandardButton PageMessageBox(QWidget *owner, const QString &caption, const QString &text,
                                           QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
{
    // The box lives on the stack of the caller's handler; an owner destroyed while the box
    // is open must not take the box with it, hence a guarded heap object.
    QPointer<QMessageBox> box = new QMessageBox(icon, caption, text, buttons, owner);
    const int answer = box->exec();
    delete box.data();
    return static_cast<QMessageBox::StandardButton>(answer);
}

QMessageBox::StandardButton AppMessageBox(const QString &text, QMessageBox::StandardButtons buttons,
                                          QMessageBox::Icon icon, QWidget *owner)
{
    return PageMessageBox(owner, kAppDisplayName, text, buttons, icon);
}

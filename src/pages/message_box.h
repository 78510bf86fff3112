#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Caption of every box shown on behalf of the application.
inline const QString kAppDisplayName = QStringLiteral("Velvane V1.03");

// The application's box: caption "Velvane V1.03", the warning icon unless one is named.
// Runs modally; timers and socket events keep being dispatched meanwhile.
QMessageBox::StandardButton AppMessageBox(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                          QMessageBox::Icon icon = QMessageBox::Warning, QWidget *owner = nullptr);

// A box owned by a window, with the caption, buttons and icon that window chooses.
QMessageBox::StandardButton PageMessageBox(QWidget *owner, const QString &caption, const QString &text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                           QMessageBox::Icon icon = QMessageBox::NoIcon);

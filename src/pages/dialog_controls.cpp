#include "pages/dialog_controls.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <QAction>
#include <QVariant>
#include <QWidget>

void SetCommandId(QAction *action, int id)
{
    action->setProperty(kCommandIdProperty, id);
}

QWidget *FindControl(const QWidget *root, int id)
{
    const auto children = root->findChildren<QWidget *>();
    for (QWidget *child : children) {
        const QVariant value = child->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id)
            return child;
    }
    return nullptr;
}

QRect DialogUnitsRect(int x, int y, int width, int height)
{
    auto across = [](int units) { return units * 3 / 2; };
    auto down = [](int units) { return units * 13 / 8; };
    return QRect(across(x), down(y), across(width), down(height));
}

void AcceptDigitsOnly(QLineEdit *edit)
{
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), edit));
}

int ReadNumber(const QLineEdit *edit)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    return ok ? value : 0;
}

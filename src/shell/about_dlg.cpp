#include "shell/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "pages/dialog_controls.h"
#include "pages/web/maker.h"

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("关于Velvane"));
    setFixedSize(DialogUnitsRect(0, 0, 235, 55).size());

    auto *icon = new QLabel(this);
    icon->setPixmap(
        QPixmap(QStringLiteral(":/icons/128.png")).scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setGeometry(DialogUnitsRect(11, 17, 21, 20));
    const struct
    {
        QString text;
        int x, y, width;
    } lines[] = {
        {QStringLiteral("关于Velvane V1.03"), 37, 10, 130},
        {QStringLiteral("2026年 · 中国杭州"), 37, 25, 133},
        {Maker::kName + QStringLiteral("  ") + Maker::kHomePage, 37, 40, 185},
    };
    for (const auto &line : lines) {
        auto *label = new QLabel(line.text, this);
        label->setTextFormat(Qt::PlainText);  // no prefix or markup processing
        label->setGeometry(DialogUnitsRect(line.x, line.y, line.width, 10));
    }
    auto *ok = WithControlId(new QPushButton(QStringLiteral("确定"), this), 1);
    ok->setGeometry(DialogUnitsRect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

#include "shell/help_dlg.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

CHelpDlg::CHelpDlg(QWidget *parent)
    : QDialog(parent)
    , m_text(new QTextBrowser(this))
{
    setWindowTitle(QStringLiteral("Velvane V1.03 帮助"));
    resize(620, 520);
    // The guide is our own text: nothing in it is followed outside the dialog.
    m_text->setOpenLinks(false);
    QFile guide(QStringLiteral(":/help/guide.html"));
    if (guide.open(QIODevice::ReadOnly))
        m_text->setHtml(QString::fromUtf8(guide.readAll()));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
}

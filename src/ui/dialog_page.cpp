#include "ui/dialog_page.h"

#include "platform/dialog_controls.h"

CDialogPage::CDialogPage(unsigned templateId, QWidget *parent)
    : QWidget(parent)
    , m_templateId(templateId)
{
}

QWidget *CDialogPage::GetDlgItem(int id) const
{
    return FindControl(this, id);
}

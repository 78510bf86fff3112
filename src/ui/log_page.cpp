#include "ui/log_page.h"

#include "app/globals.h"
#include "common/line_list_box.h"
#include "platform/dialog_controls.h"

CLogPage::CLogPage(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
{
}

CLogPage::~CLogPage()
{
    if (g_pSystemLogList == m_list)
        g_pSystemLogList = nullptr;
}

void CLogPage::OnInitDialog()
{
    m_list = WithControlId(new LineListBox(this), 1049);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->SetMaxLines(LineListBox::kKeptLines);
    m_list->setGeometry(rect());
    g_pSystemLogList = m_list;
}

void CLogPage::resizeEvent(QResizeEvent *)
{
    if (m_list)
        m_list->setGeometry(rect());
}

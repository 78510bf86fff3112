#include "ui/log_page.h"

#include "app/globals.h"
#include "common/line_list_box.h"
#include "platform/dialog_controls.h"

#include <QLineEdit>

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
    m_filter = WithControlId(new QLineEdit(this), kFilterId);
    m_list->AttachFilterField(m_filter);
    PlaceControls();
    g_pSystemLogList = m_list;
}

void CLogPage::PlaceControls()
{
    const QRect filter = DialogUnitsRect(2, 2, 160, 12);
    m_filter->setGeometry(filter);
    m_list->setGeometry(rect().adjusted(0, filter.bottom() + 3, 0, 0));
}

void CLogPage::resizeEvent(QResizeEvent *)
{
    if (m_list)
        PlaceControls();
}

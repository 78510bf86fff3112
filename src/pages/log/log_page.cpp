#include "pages/log/log_page.h"

#include <QLineEdit>

#include "pages/dialog_controls.h"
#include "traffic/system_log.h"
#include "widgets/display_list/line_list_box.h"

LineListBox *g_pSystemLogList = nullptr;

void SetSystemLogList(LineListBox *list)
{
    g_pSystemLogList = list;
    if (!list) {
        SystemLog::SetSink({});
        return;
    }
    SystemLog::SetSink([list](const QByteArray &line) { list->InsertString(0, line); });
}

CLogPage::CLogPage(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
{
}

CLogPage::~CLogPage()
{
    if (g_pSystemLogList == m_list)
        SetSystemLogList(nullptr);
}

void CLogPage::OnInitDialog()
{
    m_list = WithControlId(new LineListBox(this), LogPageIds::kList);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->SetMaxLines(LineListBox::kKeptLines);
    m_filter = WithControlId(new QLineEdit(this), kFilterId);
    m_list->AttachFilterField(m_filter);
    PlaceControls();
    SetSystemLogList(m_list);
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

#include "ui/web_page.h"

#include "platform/dialog_controls.h"
#include "ui/maker.h"
#include "ui/web_browser2.h"

CDlg_Html_Quorvale::CDlg_Html_Quorvale(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
{
}

void CDlg_Html_Quorvale::OnInitDialog()
{
    m_browser = WithControlId(new CWebBrowser2(this), 1051);
    m_browser->setGeometry(rect());
    m_browser->Navigate(Maker::kHomePage);
}

void CDlg_Html_Quorvale::resizeEvent(QResizeEvent *)
{
    if (m_browser)
        m_browser->setGeometry(rect());
}

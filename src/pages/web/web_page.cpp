#include "pages/web/web_page.h"

#include "pages/control_ids.h"
#include "pages/dialog_controls.h"
#include "pages/web/maker.h"
#include "widgets/web_browser2.h"

CDlg_Html_Quorvale::CDlg_Html_Quorvale(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
{
}

void CDlg_Html_Quorvale::OnInitDialog()
{
    m_browser = WithControlId(new CWebBrowser2(this), WebPageIds::kBrowser);
    m_browser->setGeometry(rect());
    m_browser->Navigate(Maker::kHomePage);
}

void CDlg_Html_Quorvale::resizeEvent(QResizeEvent *)
{
    if (m_browser)
        m_browser->setGeometry(rect());
}

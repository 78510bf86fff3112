#include "ui/web_page.h"

CDlg_Html_Quorvale::CDlg_Html_Quorvale(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
{
}

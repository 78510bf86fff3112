#include "client/client_page.h"

CClientPage::CClientPage(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
{
}

#include "tcpserver/tcp_server_page.h"

CTcpServerPage::CTcpServerPage(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
{
}

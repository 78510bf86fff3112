#include "udpserver/udp_server_page.h"

CUdpServerPage::CUdpServerPage(QWidget *parent)
    : CDialogPage(kTemplateId, parent)
{
}

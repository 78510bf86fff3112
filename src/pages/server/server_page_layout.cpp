#include "pages/server/server_page_layout.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "pages/dialog_page.h"
#include "widgets/display_list/line_list_box.h"

ServerPageControls BuildServerPage(CDialogPage *page, const ServerPageIds &ids)
{
    ServerPageControls c{};
    page->AddGroup(ids.protocol + QStringLiteral("服务设置"), 2, 2, 351, 132);
    page->AddGroup(QStringLiteral("选项"), 6, 11, 150, 60);
    page->AddLabel(QStringLiteral("主机:"), 10, 22, 22, 10);
    c.host = page->Place(new QComboBox, ids.host, 34, 20, 72, 13);
    c.ipInfo = page->AddButton(ids.ipInfo, QStringLiteral("IP信息"), 110, 20, 40, 14);
    page->AddLabel(ids.protocol + QStringLiteral("端口:"), 10, 39, 38, 10);
    c.port = page->AddEdit(ids.port, 50, 37, 40, 12);
    c.listen = page->AddButton(ids.listen, QStringLiteral("侦 听"), 10, 53, 40, 14);
    c.stop = page->AddButton(ids.stop, QStringLiteral("停 止"), 56, 53, 40, 14);

    page->AddGroup(QStringLiteral("客户端"), 160, 11, 189, 60);
    c.peers = page->Place(new LineListBox, ids.peers, 164, 21, 122, 46);
    c.peers->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    c.peerButton = page->AddButton(ids.peerButton, ids.peerAction, 292, 21, 40, 14);
    page->AddIcon(QStringLiteral(":/icons/143.png"), 300, 44);

    return c;
}

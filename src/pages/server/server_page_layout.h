#pragma once

#include <QString>

#include "pages/traffic_area/traffic_area_layout.h"

class LineListBox;

// The dialog ids of a server page's own controls; both server pages have them in the same
// places, with their own ids and words.
struct ServerPageIds
{
    QString protocol;    // "TCP" or "UDP"
    QString peerAction;  // caption of the button beside the peer list
    int host, ipInfo, port, listen, stop, peers, peerButton;
    TrafficAreaIds traffic;

    template <typename Ids>
    static ServerPageIds Of(const QString &protocol, const QString &peerAction)
    {
        return {protocol,     peerAction, Ids::kHost,  Ids::kIpInfo,     Ids::kPort,
                Ids::kListen, Ids::kStop, Ids::kPeers, Ids::kPeerButton, TrafficAreaIds::Of<Ids>()};
    }
};

struct ServerPageControls
{
    QComboBox *host;
    QPushButton *ipInfo;
    QLineEdit *port;
    QPushButton *listen;
    QPushButton *stop;
    LineListBox *peers;
    QPushButton *peerButton;
};

// A server page's settings and peer groups, above its traffic area.
ServerPageControls BuildServerPage(CDialogPage *page, const ServerPageIds &ids);

// Where a server page puts the one control only it has, beside "16进制发送".
inline constexpr int kServerExtraX = 170;
inline constexpr int kServerExtraY = 104;

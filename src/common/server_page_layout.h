#pragma once

#include <QString>

class CDialogPage;
class CExtentListBox;
class LineListBox;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The dialog ids of a server page's controls; both server pages have the same controls
// in the same places, with their own ids and words.
struct ServerPageIds
{
    QString protocol;       // "TCP" or "UDP"
    QString peerAction;     // caption of the button beside the peer list
    QString logFileName;
    int host, ipInfo, port, listen, stop, peers, peerButton;
    int sendBox, send, timedSend, interval, hexSend, autoReply, replyData, replyEcho;
    int tx, rx, clearCounters, hexDisplay, clearData, dataList;
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
    QLineEdit *sendBox;
    QPushButton *send;
    QCheckBox *timedSend;
    QLineEdit *interval;
    QCheckBox *hexSend;
    QCheckBox *autoReply;
    QRadioButton *replyData;
    QRadioButton *replyEcho;
    QLineEdit *tx;
    QLineEdit *rx;
    QPushButton *clearCounters;
    QCheckBox *hexDisplay;
    QPushButton *clearData;
    CExtentListBox *dataList;
};

// Builds the controls on the page: the settings and peer groups above, the send area and
// counters below them, the display list at the bottom. The send button is the page's default.
ServerPageControls BuildServerPage(CDialogPage *page, const ServerPageIds &ids);

// Where a server page puts the one control only it has, beside "16进制发送".
inline constexpr int kServerExtraX = 170;
inline constexpr int kServerExtraY = 104;

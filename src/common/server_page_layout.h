#pragma once

#include <QString>

class CDialogPage;
class CExtentListBox;
class EncodingBox;
class LineListBox;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The dialog ids of the send and display area that every traffic page has, in the same
// places; 0 leaves a control out (the client page has no automatic reply and no clear data).
struct TrafficAreaIds
{
    QString logFileName;
    int sendBox, send, timedSend, interval, hexSend, autoReply, replyData, replyEcho;
    int tx, rx, clearCounters, hexDisplay, clearData, dataList;
    // The column to the right of the page's controls.
    int encoding, filter, txRate, rxRate;
};

struct TrafficAreaControls
{
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
    EncodingBox *encoding;
    QLineEdit *filter;
    QLabel *txRate;
    QLabel *rxRate;
};

// The dialog ids of a server page's own controls; both server pages have them in the same
// places, with their own ids and words.
struct ServerPageIds
{
    QString protocol;       // "TCP" or "UDP"
    QString peerAction;     // caption of the button beside the peer list
    int host, ipInfo, port, listen, stop, peers, peerButton;
    TrafficAreaIds traffic;
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
    TrafficAreaControls traffic;
};

// Builds the send box, its options and the counters below the page's own controls, the
// display list at the bottom, and in the column on the right the encoding, the rates and the
// display list's filter. The send button is the page's default.
TrafficAreaControls BuildTrafficArea(CDialogPage *page, const TrafficAreaIds &ids);
// A server page: the settings and peer groups above the traffic area.
ServerPageControls BuildServerPage(CDialogPage *page, const ServerPageIds &ids);

// Where a server page puts the one control only it has, beside "16进制发送".
inline constexpr int kServerExtraX = 170;
inline constexpr int kServerExtraY = 104;

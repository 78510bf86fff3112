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

// The free column to the right of every traffic page's own controls (dialog units); a page's
// own additions go below the area's, from kRightColumnPageY.
inline constexpr int kRightColumnX = 357;
inline constexpr int kRightColumnWidth = 56;
inline constexpr int kRightColumnPageY = 202;

// The dialog ids of the send and display area that every traffic page has, in the same
// places; 0 leaves a control out (the client page has no automatic reply and no clear data).
struct TrafficAreaIds
{
    int sendBox, send, timedSend, interval, hexSend, autoReply, replyData, replyEcho;
    int tx, rx, clearCounters, hexDisplay, clearData, dataList;
    // The column to the right of the page's controls.
    int encoding, filter, txRate, rxRate;

    // A page's ids (TcpServerIds::Id and its siblings, control_ids.h) by their shared names.
    template <typename Ids>
    static constexpr TrafficAreaIds Of()
    {
        TrafficAreaIds ids{};
        ids.sendBox = Ids::kSendBox;
        ids.send = Ids::kSend;
        ids.timedSend = Ids::kTimedSend;
        ids.interval = Ids::kInterval;
        ids.hexSend = Ids::kHexSend;
        ids.tx = Ids::kTx;
        ids.rx = Ids::kRx;
        ids.clearCounters = Ids::kClearCounters;
        ids.hexDisplay = Ids::kHexDisplay;
        ids.dataList = Ids::kDataList;
        ids.encoding = Ids::kEncoding;
        ids.filter = Ids::kFilter;
        ids.txRate = Ids::kTxRate;
        ids.rxRate = Ids::kRxRate;
        if constexpr (requires { Ids::kAutoReply; }) {  // the servers'
            ids.autoReply = Ids::kAutoReply;
            ids.replyData = Ids::kReplyData;
            ids.replyEcho = Ids::kReplyEcho;
            ids.clearData = Ids::kClearData;
        }
        return ids;
    }
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
    // Beyond the dialog tables, off at the start; found by their object names.
    QCheckBox *timestamps;     // "timestamps"
    QCheckBox *pause;          // "pause"
    QCheckBox *largeData;      // "largeData"
    QLabel *waiting;           // "pauseWaiting": the lines held back while paused
    QPushButton *largeView;    // "largeView"
    QPushButton *capture;      // "capture"
    QPushButton *sendOptions;  // "sendOptions"
    QPushButton *sendFile;     // "sendFile"
    QPushButton *commands;     // "commands"
    QLabel *strip;             // "sendStrip": under the display list, hidden while it has nothing to say
};

// Builds the send box, its options and the counters below the page's own controls, the
// display list at the bottom, and in the column on the right the encoding, the rates and the
// display list's filter, with the view and capture controls in its free rows. The send
// button is the page's default.
// logFileName names the page's traffic log in the line above the display list.
TrafficAreaControls BuildTrafficArea(CDialogPage *page, const TrafficAreaIds &ids, const QString &logFileName);

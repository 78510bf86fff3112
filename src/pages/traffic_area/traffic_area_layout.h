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
    int sendBox, send, timedSend, interval, hexSend, autoReply, replyData, replyEcho;
    int tx, rx, clearCounters, hexDisplay, clearData, dataList;
    // The column to the right of the page's controls.
    int encoding, filter, txRate, rxRate;

    // A page's ids (TcpServerIds::Id and its siblings, control_ids.h) by their shared names.
    template <typename Ids>
    static constexpr TrafficAreaIds Of()
    {
        TrafficAreaIds ids{Ids::kSendBox,
                           Ids::kSend,
                           Ids::kTimedSend,
                           Ids::kInterval,
                           Ids::kHexSend,
                           0,
                           0,
                           0,
                           Ids::kTx,
                           Ids::kRx,
                           Ids::kClearCounters,
                           Ids::kHexDisplay,
                           0,
                           Ids::kDataList,
                           Ids::kEncoding,
                           Ids::kFilter,
                           Ids::kTxRate,
                           Ids::kRxRate};
        if constexpr (requires { Ids::kAutoReply; }) {
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
};

// Builds the send box, its options and the counters below the page's own controls, the
// display list at the bottom, and in the column on the right the encoding, the rates and the
// display list's filter. The send button is the page's default.
// logFileName names the page's traffic log in the line above the display list.
TrafficAreaControls BuildTrafficArea(CDialogPage *page, const TrafficAreaIds &ids, const QString &logFileName);

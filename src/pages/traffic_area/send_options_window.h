#pragma once

#include <QWidget>

#include "text/send_frame.h"

class QGroupBox;
class QSpinBox;
class SendOptionsForm;

// "发送选项…": a page's send options in a small window of its own, with the datagram size and
// rate of a UDP file send. Closing it keeps the options; the button shows it again.
class SendOptionsWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kDefaultDatagramSize = 1024;
    static constexpr int kMaxDatagramSize = 65507;

    // withDatagrams: the page can send a file over UDP.
    SendOptionsWindow(const QString &pageName, bool withDatagrams, QWidget *page);

    SendOptions Options() const;
    // Shows options (remembered ones at a start) without a word of change.
    void SetOptions(const SendOptions &options);
    int DatagramSize() const;
    // Datagrams per second; 0: as fast as the socket takes them.
    int DatagramsPerSecond() const;
    void SetDatagrams(int size, int perSecond);

signals:
    void OptionsChanged();

private:
    SendOptionsForm *m_form;
    QGroupBox *m_datagrams;
    QSpinBox *m_datagramSize;
    QSpinBox *m_rate;
};

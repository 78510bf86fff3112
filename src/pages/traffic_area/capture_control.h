#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

#include "traffic/capture/bin_capture.h"

class CaptureTap;
class CDialogPage;
class QPushButton;

// What a traffic page offers a capture it starts.
class CaptureSource
{
public:
    virtual ~CaptureSource() = default;

    // The TCP connections open now: a capture begins each with its handshake.
    virtual QList<int> OpenConnections() const { return {}; }
    // Whether this side opened those connections (the client page) or the peers did.
    virtual bool OpensConnections() const { return false; }
    // The one peer a .bin capture keeps; none after the page said why in a box.
    virtual std::optional<BinCaptureTarget> CapturedPeer() = 0;
};

// "捕获…": asks for a file, starts a capture of the page's traffic to it (.pcap: everything;
// .bin: what one peer sent), and pressed again as "停止捕获" ends it. A file that cannot be
// written ends the capture with one box naming it; the page's traffic goes on.
class CaptureControl : public QObject
{
    Q_OBJECT

public:
    CaptureControl(CDialogPage *page, QPushButton *button, CaptureTap &tap, const QString &caption,
                   const QString &fileStem);
    void SetSource(CaptureSource *source) { m_source = source; }

    bool IsCapturing() const;
    void OnCapture();
    // Writes out and closes the running capture, if any: Stop, Disconnect, the page going.
    void EndCapture();

private:
    void Begin(const QString &path, bool rawBytes);
    // The capture's word that it failed or ended, taken up after the call that found it.
    void OnCaptureStopped(quint64 generation);
    void ShowCapturing(bool capturing);
    void Warn(const QString &text);

    CDialogPage *m_page;
    QPushButton *m_button;
    CaptureTap &m_tap;
    CaptureSource *m_source = nullptr;
    QString m_caption;
    QString m_fileStem;
    // Which capture a deferred word is about: a new one may have begun meanwhile.
    quint64 m_generation = 0;
};

#pragma once

#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The web page tab's browser: shows the page bundled with the program at once, then the
// maker's live page when it can be fetched. It loads nothing else by itself and hands only
// http, https and mailto links to the desktop.
class CWebBrowser2 : public QTextBrowser
{
    Q_OBJECT

public:
    static constexpr int kDefaultTimeoutMs = 10000;
    // Pages larger than this are not worth showing in a tab and would only eat memory.
    static constexpr qint64 kMaxPageBytes = 4 * 1024 * 1024;

    explicit CWebBrowser2(QWidget *parent = nullptr);
    ~CWebBrowser2() override;

    // Shows the bundled page, then fetches the address (http or https) in the background.
    void Navigate(const QString &address);

    bool IsShowingBundledPage() const { return m_showingBundledPage; }
    // The longest a fetch may take, from request to the last byte.
    void SetTimeoutMs(int ms) { m_deadline.setInterval(ms); }

    // Only the bundled page's own resources; nothing from local files or the network.
    QVariant loadResource(int type, const QUrl &name) override;

signals:
    // The fetch of the last Navigate ended: true when its page is shown, false when the
    // bundled page stays. A fetch replaced by a later Navigate reports nothing.
    void Finished(bool fetched);

private:
    void ShowBundledPage();
    void OnReplyFinished();
    void OnAnchorClicked(const QUrl &link);
    void DropReply();

    QNetworkAccessManager *m_network;
    QNetworkReply *m_reply = nullptr;
    QTimer m_deadline;
    QUrl m_pageUrl;
    quint64 m_navigation = 0;  // tells a late report of a replaced Navigate from the current one
    bool m_showingBundledPage = false;
};

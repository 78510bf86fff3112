#include "widgets/web_browser2.h"

#include <QDesktopServices>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTextDocument>

namespace {

const QUrl kBundledPage(QStringLiteral("qrc:/web/quorvale.html"));

bool IsWebScheme(const QUrl &url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

// QTextDocument reads local files by itself when its browser finds nothing; this one asks the
// browser and stops there.
class BrowserOnlyDocument : public QTextDocument
{
public:
    explicit BrowserOnlyDocument(CWebBrowser2 *browser)
        : QTextDocument(browser)
        , m_browser(browser)
    {
    }

protected:
    QVariant loadResource(int type, const QUrl &name) override { return m_browser->loadResource(type, name); }

private:
    CWebBrowser2 *m_browser;
};

// The charset the server names, else the page's BOM or meta tag, else UTF-8.
QString DecodePage(const QByteArray &body, const QVariant &contentType)
{
    const QString type = contentType.toString();
    const qsizetype at = type.indexOf(QLatin1String("charset="), 0, Qt::CaseInsensitive);
    if (at >= 0) {
        const QByteArray name =
            type.mid(at + 8).section(QLatin1Char(';'), 0, 0).trimmed().remove(QLatin1Char('"')).toLatin1();
        QStringDecoder decoder(name.constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    QStringDecoder decoder(QStringConverter::encodingForHtml(body).value_or(QStringConverter::Utf8));
    return decoder.decode(body);
}

bool IsHtml(const QVariant &contentType)
{
    if (!contentType.isValid())
        return true;  // servers that do not say are trusted to send what was asked for
    const QString type = contentType.toString().section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    return type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml");
}

}  // namespace

CWebBrowser2::CWebBrowser2(QWidget *parent)
    : QTextBrowser(parent)
    , m_network(new QNetworkAccessManager(this))
{
    setDocument(new BrowserOnlyDocument(this));
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &CWebBrowser2::OnAnchorClicked);

    // A whole-answer limit: the request's transfer timeout only counts silence, so a server
    // that trickles bytes would never hit it.
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(kDefaultTimeoutMs);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_reply)
            m_reply->abort();  // finishes the reply as a failure
    });
    ShowBundledPage();
}

CWebBrowser2::~CWebBrowser2()
{
    DropReply();
}

void CWebBrowser2::Navigate(const QString &address)
{
    DropReply();
    ++m_navigation;
    ShowBundledPage();

    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || !IsWebScheme(url) || url.host().isEmpty()) {
        // Reported later, as a fetch would be, so a caller connecting after Navigate hears it.
        QTimer::singleShot(0, this, [this, navigation = m_navigation] {
            if (navigation == m_navigation)
                emit Finished(false);
        });
        return;
    }

    QNetworkRequest request(url);
    // Qt follows redirects to http and https only, and never from https down to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    m_reply = m_network->get(request);
    QNetworkReply *reply = m_reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > kMaxPageBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, &CWebBrowser2::OnReplyFinished);
    m_deadline.start();
}

QVariant CWebBrowser2::loadResource(int type, const QUrl &name)
{
    if (m_showingBundledPage && name.scheme() == QLatin1String("qrc"))
        return QTextBrowser::loadResource(type, name);
    return {};
}

void CWebBrowser2::ShowBundledPage()
{
    if (m_showingBundledPage)
        return;
    QFile file(kBundledPage.path().prepend(QLatin1Char(':')));
    const QByteArray html = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    m_showingBundledPage = true;  // set first: the page's layout asks loadResource
    m_pageUrl = kBundledPage;
    setHtml(QString::fromUtf8(html));
}

void CWebBrowser2::OnReplyFinished()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    m_deadline.stop();
    reply->disconnect(this);
    reply->deleteLater();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant contentType = reply->header(QNetworkRequest::ContentTypeHeader);
    const bool fetched = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300
                         && IsHtml(contentType);
    if (fetched) {
        const QByteArray body = reply->readAll();
        m_showingBundledPage = false;
        m_pageUrl = reply->url();
        setHtml(DecodePage(body, contentType));
    } else {
        ShowBundledPage();
    }
    emit Finished(fetched);
}

void CWebBrowser2::OnAnchorClicked(const QUrl &link)
{
    if (link.scheme().isEmpty() && link.host().isEmpty() && link.path().isEmpty() && link.hasFragment()) {
        scrollToAnchor(link.fragment());  // a place on this page
        return;
    }
    const QUrl target = m_pageUrl.resolved(link);
    if ((IsWebScheme(target) && !target.host().isEmpty()) || target.scheme() == QLatin1String("mailto"))
        QDesktopServices::openUrl(target);
}

void CWebBrowser2::DropReply()
{
    m_deadline.stop();
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);  // a replaced fetch reports nothing
    reply->abort();
    reply->deleteLater();
}

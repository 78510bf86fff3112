// The web page tab: the bundled page, fetching the maker's page, what links and images may do.
#include <QtTest>

#include <QDesktopServices>
#include <QTcpServer>
#include <QTcpSocket>

#include "pages/control_ids.h"
#include "pages/web/maker.h"
#include "pages/web/web_page.h"
#include "support/test_environment.h"
#include "widgets/web_browser2.h"

namespace {

const QString kBundledPhrase = QStringLiteral("Velvane 是一款手动测试 TCP 与 UDP 对端的桌面工具");

QByteArray Answer(const QByteArray &status, const QByteArray &body, const QByteArray &headers = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size())
           + "\r\nConnection: close\r\n" + headers + "\r\n" + body;
}

// An HTTP server on 127.0.0.1 giving each request the next answer; without one it stays silent.
class LocalHttpServer : public QTcpServer
{
public:
    explicit LocalHttpServer(QList<QByteArray> answers = {})
        : m_answers(std::move(answers))
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++hangups; });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                requests.append(socket->readLine().trimmed());
                if (m_answers.isEmpty())
                    return;
                socket->write(m_answers.takeFirst());
                socket->disconnectFromHost();
            });
        });
    }
    QString Address(const char *path = "/") const
    {
        return QString("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

    QList<QByteArray> requests;
    int hangups = 0;

private:
    QList<QByteArray> m_answers;
};

// What the browser hands to the desktop, for schemes it may and may not use.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher()
    {
        for (const char *scheme : kSchemes)
            QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
    ~UrlCatcher() override
    {
        for (const char *scheme : kSchemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;
public slots:
    void Open(const QUrl &url) { opened.append(url); }

private:
    static constexpr const char *kSchemes[] = {"http", "https", "mailto", "file", "qrc", "javascript"};
};

// The Finished arguments of one Navigate; empty when it did not end in time.
QList<bool> NavigateAndWait(CWebBrowser2 &browser, const QString &address)
{
    QSignalSpy finished(&browser, &CWebBrowser2::Finished);
    browser.Navigate(address);
    WaitUntil([&] { return !finished.isEmpty(); }, kPatienceMs);
    QList<bool> results;
    for (const QList<QVariant> &arguments : finished)
        results.append(arguments.at(0).toBool());
    return results;
}

}  // namespace

class TestWebPage : public QObject
{
    Q_OBJECT

private slots:
    void unreachablePagesKeepTheBundledPage();
    void fetchedPageWithoutItsImagesAndOnlyWebLinks();
    void slowAndReplacedFetches();
    void pageShowsTheBundledPageAtOnce();
};

void TestWebPage::unreachablePagesKeepTheBundledPage()
{
    LocalHttpServer server(
        {Answer("404 Not Found", "<p>missing</p>"), Answer("302 Found", "", "Location: file:///etc/passwd\r\n")});
    for (const QString &address : {QString("http://127.0.0.1:%1/").arg(FreePort()), server.Address("/missing"),
                                   server.Address("/to-a-file"), QString("file:///etc/passwd")}) {
        CWebBrowser2 browser;
        QCOMPARE(NavigateAndWait(browser, address), QList<bool>{false});
        QVERIFY2(browser.IsShowingBundledPage() && browser.toPlainText().contains(kBundledPhrase), qPrintable(address));
    }
    QCOMPARE(server.requests.size(), 2);  // the redirect to a file was not followed
}

void TestWebPage::fetchedPageWithoutItsImagesAndOnlyWebLinks()
{
    const QByteArray body =
        "<p>Quorvale live page <a href=\"file:///etc/passwd\">a</a> <a href=\"https://quorvale.example/x\">b</a> "
        "<a href=\"mailto:a@quorvale.example\">c</a> <a href=\"/relative\">d</a></p>"
        "<img src=\"file:///etc/hostname\">";
    LocalHttpServer server({Answer("301 Moved Permanently", "", "Location: /page\r\n"), Answer("200 OK", body)});
    UrlCatcher catcher;
    CWebBrowser2 browser;
    browser.show();
    QCOMPARE(NavigateAndWait(browser, server.Address("/start")), QList<bool>{true});
    QVERIFY(!browser.IsShowingBundledPage());
    QVERIFY(browser.toPlainText().contains("Quorvale live page"));

    // Laid out, the page got no image: neither the browser nor its document read the file.
    browser.document()->size();
    const QUrl image("file:///etc/hostname");
    QVERIFY(!browser.loadResource(QTextDocument::ImageResource, image).isValid());
    QVERIFY(!browser.document()->resource(QTextDocument::ImageResource, image).isValid());

    for (const char *href : {"file:///etc/passwd", "https://quorvale.example/x", "mailto:a@quorvale.example",
                             "/relative", "javascript:alert(1)", "qrc:/web/quorvale.html", "velvane:open"})
        emit browser.anchorClicked(QUrl(href));
    QCOMPARE(catcher.opened, (QList<QUrl>{QUrl("https://quorvale.example/x"), QUrl("mailto:a@quorvale.example"),
                                          QUrl(server.Address("/relative"))}));
    QCOMPARE(server.requests, (QList<QByteArray>{"GET /start HTTP/1.1", "GET /page HTTP/1.1"}));
}

void TestWebPage::slowAndReplacedFetches()
{
    LocalHttpServer silent;
    LocalHttpServer answering({Answer("200 OK", "<p>second page</p>")});
    CWebBrowser2 browser;
    browser.SetTimeoutMs(300);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(NavigateAndWait(browser, silent.Address()), QList<bool>{false});
    // Ended by the deadline, not before it (a coarse timer may come up to 5 % early).
    QVERIFY2(clock.elapsed() >= 280, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(browser.toPlainText().contains(kBundledPhrase));
    QVERIFY(WaitUntil([&] { return silent.hangups == 1; }, kPatienceMs));

    // A new address while a fetch runs: the earlier one is dropped and reports nothing.
    browser.Navigate(silent.Address());
    QVERIFY(WaitUntil([&] { return silent.requests.size() == 2; }, kPatienceMs));
    QCOMPARE(NavigateAndWait(browser, answering.Address()), QList<bool>{true});
    QVERIFY(browser.toPlainText().contains("second page"));
    QVERIFY(WaitUntil([&] { return silent.hangups == 2; }, kPatienceMs));

    // Destroyed during a fetch: the connection closes and nothing reports into the dead browser.
    auto doomed = std::make_unique<CWebBrowser2>();
    doomed->Navigate(silent.Address());
    QVERIFY(WaitUntil([&] { return silent.requests.size() == 3; }, kPatienceMs));
    doomed.reset();
    QVERIFY(WaitUntil([&] { return silent.hangups == 3; }, kPatienceMs));
}

void TestWebPage::pageShowsTheBundledPageAtOnce()
{
    CDlg_Html_Quorvale page;
    page.show();
    page.OnInitDialog();
    auto *browser = qobject_cast<CWebBrowser2 *>(page.GetDlgItem(WebPageIds::kBrowser));
    QVERIFY(browser && browser->IsShowingBundledPage());
    for (const QString &phrase :
         {Maker::kName, QString("Velvane V1.03"), kBundledPhrase, Maker::kHomePage, Maker::kSupportMail})
        QVERIFY2(browser->toPlainText().contains(phrase), qPrintable(phrase));
    page.resize(500, 350);
    QCOMPARE(browser->geometry(), page.rect());

    // The tests keep traffic on loopback, so the maker's own page cannot be reached.
    QSignalSpy finished(browser, &CWebBrowser2::Finished);
    QVERIFY(WaitUntil([&] { return !finished.isEmpty(); }));
    QVERIFY(!finished.at(0).at(0).toBool() && browser->IsShowingBundledPage());
}

QTEST_MAIN(TestWebPage)
#include "test_web_page.moc"

// The update check against a local HTTP server (the request, every kind of answer, failures quiet or
// reported, links opened only when safe and asked for) and the About box (version, picture, update button).
#include "AboutDialog.h"
#include "AppFixture.h"
#include "BuildInfo.h"
#include "UpdateCheck.h"
#include "ui_MainWindow.h"

/// An HTTP server on 127.0.0.1 that records each request line and answers with `status` and `body`, or
/// never answers when `silent`.
struct UpdateServer : QTcpServer
{
    UpdateServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, s, [this, s, buf = QByteArray()]() mutable {
                    if (!(buf += s->readAll()).contains("\r\n\r\n"))
                        return;
                    requests << buf.left(buf.indexOf("\r\n"));
                    if (silent)
                        return;
                    s->write("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nConnection: close\r\n"
                             "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    s->disconnectFromHost();
                });
        });
    }
    QString base(const QString& path = {}) const { return QString("http://127.0.0.1:%1%2").arg(serverPort()).arg(path); }

    QByteArray status = "200 OK", body;
    bool silent = false;
    QList<QByteArray> requests;
};

/// A 1x1 GIF of `frames` frames (20 ms each, played once).
static QByteArray gif(int frames)
{
    const QByteArray frame("\x21\xf9\x04\x00\x02\x00\x00\x00\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00", 23);
    return QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00", 19) + frame.repeated(frames) + ';';
}

/// A reply body; `link` null leaves the key out.
static QByteArray reply(const char* version, const char* link = "https://downloads.example/q")
{
    return QByteArray("{\"version\": ") + version + ", \"need_update\": \"yes\""
           + (link ? QByteArray(", \"link\": \"") + link + '"' : QByteArray()) + '}';
}
static const QByteArray newer = reply("\"4.2.0\"");

class TestAbout : public QObject
{
    Q_OBJECT

    std::unique_ptr<App> app;
    std::unique_ptr<ModalWatcher> watcher;
    QList<QUrl> opened;

    MainWindow* win() const { return app->win.get(); }
    /// The expected box for `code`: "confirm" (newer version offered) or an update_view text key.
    QString box(const QString& code) const
    {
        const auto t = [this](const char* key) { return app->lang->update(key); };
        if (code == "confirm")
            return t("update_title") + " v4.2.0|" + t("update_confirm1_str") + "\nv4.2.0\n" + t("update_confirm2_str");
        return t("update_title") + '|' + t(code.toLatin1());
    }
    void useEndpoint(const QString& base) { qputenv(UpdateCheck::kEnvironmentVariable, base.toUtf8()); }
    int pendingReplies() const { return win()->findChildren<QNetworkReply*>().size(); }

public slots:
    void openUrl(const QUrl& url) { opened << url; }   // nothing leaves the machine

private slots:
    void initTestCase()
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "openUrl");
    }
    void init()
    {
        app = std::make_unique<App>();
        watcher = std::make_unique<ModalWatcher>(win());
        opened.clear();
    }
    void cleanup()
    {
        watcher.reset();
        app.reset();
        qunsetenv(UpdateCheck::kEnvironmentVariable);
    }

    void replies_data()
    {
        QTest::addColumn<QString>("mode");   // "answer", "refused", "silent" (never answers), "500"
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("yes");   // the button pressed in a Yes/No box
        QTest::addColumn<QString>("expected");   // "" no box, "confirm", or the text key of the box
        const QByteArray current = "{\"version\": \"" QUARVEL_VERSION "\", \"need_update\": \"no\", \"link\": \"https://x.example\"}";
        const QByteArray fileLink = reply("\"4.2.0\"", "file:///etc/passwd");
        const auto row = [](const char* name, const char* mode, QByteArray body, bool asked, bool yes, const char* expected) {
            QTest::newRow(name) << mode << body << asked << yes << expected;
        };
        row("newer quiet, Yes opens the link", "answer", newer, false, true, "confirm");
        row("newer asked, No opens nothing", "answer", newer, true, false, "confirm");
        row("up to date quiet", "answer", current, false, true, "");
        row("up to date asked", "answer", current, true, true, "no_updates_str");
        row("missing link asked", "answer", reply("\"4.2.0\"", nullptr), true, true, "no_get_info_str");
        row("null version asked", "answer", reply("null"), true, true, "no_get_info_str");
        row("malformed JSON asked", "answer", newer.chopped(1) + ",", true, true, "no_get_info_str");
        row("file link quiet", "answer", fileLink, false, true, "");
        row("file link asked", "answer", fileLink, true, true, "no_get_info_str");
        row("server error asked", "500", newer, true, true, "no_get_info_str");
        for (const char* mode : {"refused", "silent"}) {
            row(qPrintable(QString(mode) + " quiet"), mode, {}, false, true, "");
            row(qPrintable(QString(mode) + " asked"), mode, {}, true, true, "no_get_info_str");
        }
    }
    void replies()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, body);
        QFETCH(bool, asked);
        QFETCH(bool, yes);
        QFETCH(QString, expected);
        UpdateServer server;
        server.body = body;
        server.silent = mode == "silent";
        if (mode == "500")
            server.status = "500 Internal Server Error";
        useEndpoint(mode == "refused" ? QString("http://127.0.0.1:%1").arg(freePort()) : server.base("/u/"));
        app->lang->currentLanguage = "Deutsch & co+\u00fc=#?";   // every value of the query encoded whole
        if (server.silent)
            win()->updateTimeoutMs = 300;
        watcher->answer = yes ? QMessageBox::Yes : QMessageBox::No;

        win()->checkUpdates(asked);
        QCOMPARE(pendingReplies(), 1);
        QTRY_COMPARE(pendingReplies(), 0);   // evaluated once and freed
        QCOMPARE(watcher->boxes, expected.isEmpty() ? QStringList() : QStringList{box(expected)});
        // Only a Yes to a newer version with a web link opens that link.
        QCOMPARE(opened, expected == "confirm" && yes ? QList<QUrl>{QUrl("https://downloads.example/q")} : QList<QUrl>());
        const QByteArray request = "GET /u/version/linux/?ver=" QUARVEL_VERSION "&lang=Deutsch%20%26%20co%2B%C3%BC%3D%23%3F&bit=32 HTTP/1.1";
        QCOMPARE(server.requests, mode == "refused" ? QList<QByteArray>() : QList<QByteArray>{request});
    }

    void withoutEndpointNothingIsSent_data()
    {
        QTest::addColumn<QByteArray>("endpoint");   // the environment's value; "-" leaves it unset
        if (QByteArray(QUARVEL_UPDATE_URL).isEmpty())
            QTest::newRow("none in the build") << QByteArray("-");
        QTest::newRow("switched off") << QByteArray("");
        QTest::newRow("file address") << QByteArray("file:///etc/hostname");
        QTest::newRow("ftp address") << QByteArray("ftp://127.0.0.1:21/");
    }
    void withoutEndpointNothingIsSent()
    {
        QFETCH(QByteArray, endpoint);
        if (endpoint != "-")
            useEndpoint(endpoint);
        win()->checkUpdates(false);
        QVERIFY(pendingReplies() == 0 && watcher->boxes.isEmpty());
        // Asked: the answer comes at once, from the call itself.
        win()->checkUpdates(true);
        QCOMPARE(pendingReplies(), 0);
        QCOMPARE(watcher->boxes, QStringList{box("no_get_info_str")});
    }

    void aboutBoxShowsVersionAndAsksForUpdates()
    {
        useEndpoint("");
        QString version;
        Qt::TextFormat linkFormat = Qt::AutoText;
        watcher->onDialog = [&](QDialog* d) {
            if (!version.isEmpty())
                return;   // the About box again, after the update box
            version = child<QLabel>(d, "version")->text();
            QTest::mouseClick(child<QLabel>(d, "label"), Qt::LeftButton);
            linkFormat = child<QLabel>(d, "label_5")->textFormat();
            QTimer::singleShot(0, d, [d] {
                child<QPushButton>(d, "btnUpdate")->click();
                child<QPushButton>(d, "btnClose")->click();
            });
        };
        win()->form()->helpBtn->click();
        QCOMPARE(version, app->lang->about("version_str") + " " + MainWindow::_version);
        QCOMPARE(watcher->boxes, QStringList{box("no_get_info_str")});
        // The picture opens the project page, and only that.
        const QUrl page = AboutDialog::projectPage();
        QCOMPARE(opened, page.isEmpty() ? QList<QUrl>() : QList<QUrl>{page});
        QCOMPARE(linkFormat, page.isEmpty() ? Qt::PlainText : Qt::RichText);
    }

    void pictureAnimatesOnlyWithSeveralFrames_data()
    {
        QTest::addColumn<QByteArray>("picture");   // empty: the program's own picture
        QTest::addColumn<bool>("animated");
        QTest::newRow("program picture") << QByteArray() << false;
        QTest::newRow("one-frame GIF") << gif(1) << false;
        QTest::newRow("two-frame GIF") << gif(2) << true;
    }
    void pictureAnimatesOnlyWithSeveralFrames()
    {
        QFETCH(QByteArray, picture);
        QFETCH(bool, animated);
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(picture) == picture.size() && file.flush());
        AboutDialog dialog("t", "v", "l", "d");
        if (!picture.isEmpty())
            dialog.showPicture(file.fileName());
        auto* label = child<QLabel>(&dialog, "label");
        QCOMPARE(dialog.movie() != nullptr, animated);
        if (!animated) {
            QVERIFY(!label->pixmap(Qt::ReturnByValue).isNull());
            return;
        }
        // Played once by itself, the movie is started again when it finishes.
        QCOMPARE(label->movie(), dialog.movie());
        QSignalSpy frames(dialog.movie(), &QMovie::frameChanged);
        QTRY_VERIFY(frames.count() > 4);
        QCOMPARE(dialog.movie()->state(), QMovie::Running);
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"

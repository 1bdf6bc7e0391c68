// The update check against a local HTTP server (the request, every kind of
// answer, failures quiet or reported, links opened only when safe and asked
// for) and the About box (version, picture, its update button).

#include "AboutDialog.h"
#include "AppFixture.h"
#include "BuildInfo.h"
#include "UpdateCheck.h"
#include "ui_MainWindow.h"

/// An HTTP server on 127.0.0.1 that records each request line and answers
/// with `status` and `body`, or never answers when `silent`.
class UpdateServer : public QTcpServer
{
public:
    UpdateServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, s, [this, s] { serve(s); });
        });
    }
    QString base(const QString& path = {}) const { return QString("http://127.0.0.1:%1%2").arg(serverPort()).arg(path); }

    QByteArray status = "200 OK", body;
    bool silent = false;
    QList<QByteArray> requests;

private:
    void serve(QTcpSocket* s)
    {
        QByteArray& buf = pending[s];
        buf += s->readAll();
        if (!buf.contains("\r\n\r\n"))
            return;
        requests << buf.left(buf.indexOf("\r\n"));
        if (silent)
            return;
        s->write("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        s->disconnectFromHost();
    }
    QHash<QTcpSocket*, QByteArray> pending;
};

/// A 1x1 GIF of `frames` frames (20 ms each, played once).
static QByteArray gif(int frames)
{
    QByteArray g = QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00", 19);
    for (int i = 0; i < frames; ++i)
        g += QByteArray("\x21\xf9\x04\x00\x02\x00\x00\x00" "\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00"
                        "\x02\x02\x44\x01\x00", 23);
    return g + ';';
}

/// A reply body with the given values; a null pointer leaves the key out, "null" is JSON's null.
static QByteArray reply(const char* version, const char* need, const char* link)
{
    QJsonObject o;
    const auto put = [&o](const char* key, const char* value) {
        if (value)
            o.insert(key, qstrcmp(value, "null") ? QJsonValue(value) : QJsonValue());
    };
    put("version", version);
    put("need_update", need);
    put("link", link);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

static const char* const download = "https://downloads.example/q";
static const QByteArray newer = reply("4.2.0", "yes", download);
static const QByteArray current = reply(QUARVEL_VERSION, "no", download);

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
    /// The desktop's URL opener during the tests: nothing leaves the machine.
    void openUrl(const QUrl& url) { opened << url; }

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
        QTest::addColumn<int>("choice");   // the button pressed in a Yes/No box
        QTest::addColumn<QString>("expected");   // "" no box, "confirm", or the text key of the box
        QTest::addColumn<QString>("opens");

        const auto row = [](const char* name, const char* mode, QByteArray body, bool asked,
                            int choice, const char* expected, const char* opens = "") {
            QTest::newRow(name) << mode << body << asked << choice << expected << opens;
        };
        const auto Yes = QMessageBox::Yes, No = QMessageBox::No;
        const QByteArray fileLink = reply("4.2.0", "yes", "file:///etc/passwd");
        row("newer quiet, Yes opens the link", "answer", newer, false, Yes, "confirm", download);
        row("newer asked, No opens nothing", "answer", newer, true, No, "confirm");
        row("up to date quiet", "answer", current, false, Yes, "");
        row("up to date asked", "answer", current, true, Yes, "no_updates_str");
        row("missing link asked", "answer", reply("4.2.0", "yes", nullptr), true, Yes, "no_get_info_str");
        row("null version asked", "answer", reply("null", "yes", download), true, Yes, "no_get_info_str");
        row("malformed JSON asked", "answer", newer.chopped(1) + ",", true, Yes, "no_get_info_str");
        row("file link quiet", "answer", fileLink, false, Yes, "");
        row("file link asked", "answer", fileLink, true, Yes, "no_get_info_str");
        row("server error asked", "500", newer, true, Yes, "no_get_info_str");
        row("refused quiet", "refused", {}, false, Yes, "");
        row("refused asked", "refused", {}, true, Yes, "no_get_info_str");
        row("no reply quiet", "silent", {}, false, Yes, "");
        row("no reply asked", "silent", {}, true, Yes, "no_get_info_str");
    }
    void replies()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, body);
        QFETCH(bool, asked);
        QFETCH(int, choice);
        QFETCH(QString, expected);
        QFETCH(QString, opens);

        UpdateServer server;
        server.body = body;
        server.silent = mode == "silent";
        if (mode == "500")
            server.status = "500 Internal Server Error";
        useEndpoint(mode == "refused" ? QString("http://127.0.0.1:%1").arg(freePort()) : server.base());
        if (server.silent)
            win()->updateTimeoutMs = 300;
        watcher->answer = QMessageBox::StandardButton(choice);

        win()->checkUpdates(asked);
        QCOMPARE(pendingReplies(), 1);
        // The reply is evaluated once and freed.
        QTRY_COMPARE(pendingReplies(), 0);
        QCOMPARE(watcher->boxes, expected.isEmpty() ? QStringList() : QStringList{box(expected)});
        QCOMPARE(opened, opens.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opens)});
        QCOMPARE(server.requests.size(), mode == "refused" ? 0 : 1);
    }

    void requestCarriesVersionLanguageAndWordSize()
    {
        UpdateServer server;
        server.body = current;
        useEndpoint(server.base("/updates/"));
        const QString language = "Deutsch & co+ü=#?";
        app->lang->currentLanguage = language;
        win()->checkUpdates(false);
        QTRY_COMPARE(server.requests.size(), 1);

        const QList<QByteArray> line = server.requests.first().split(' ');
        QCOMPARE(line.size(), 3);   // method, target, protocol: nothing unencoded in the target
        QCOMPARE(line.at(0), QByteArray("GET"));
        const QUrl target = QUrl::fromEncoded("http://h" + line.at(1), QUrl::StrictMode);
        QCOMPARE(target.path(), QString("/updates/version/linux/"));
        const QUrlQuery query(target);
        QCOMPARE(query.queryItems(QUrl::FullyDecoded),
                 (QList<QPair<QString, QString>>{{"ver", MainWindow::_version}, {"lang", language}, {"bit", "32"}}));
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
        QCOMPARE(pendingReplies(), 0);
        QVERIFY(watcher->boxes.isEmpty());
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

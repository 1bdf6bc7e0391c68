// The images compiled into the program: every name the windows use is there
// and decodes as a small icon.
#include <QDirIterator>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QMovie>
#include <QtTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void imagesUsedByTheWindows_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* n : {"avatar.gif", "chart_pie.png", "filter_start.png", "filter_stop.png", "flow.png",
                              "help.png", "highlight.png", "icon.ico", "mariadb.png", "mysql.png",
                              "page_copy.png", "percona.png", "profiles.png", "run.png", "search.png",
                              "server_off.png", "server_on.png", "session.png", "sessions.png",
                              "settings.png", "sql.png", "stop.png", "table_play.png", "table_save.png",
                              "tag.png", "undo.png", "wordwrap.png"})
            QTest::newRow(n) << QString::fromLatin1(n);
    }

    void imagesUsedByTheWindows()
    {
        QFETCH(QString, name);
        const QString path = QStringLiteral(":/images/") + name;
        QVERIFY2(QFile::exists(path), qPrintable(path));
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), QSize(16, 16));
        QVERIFY(!QIcon(path).pixmap(16, 16).isNull());
    }

    void everyBundledImageDecodes()
    {
        int count = 0;
        QDirIterator it(QStringLiteral(":/images"));
        while (it.hasNext()) {
            const QString path = it.next();
            QVERIFY2(!QImage(path).isNull(), qPrintable(path));
            ++count;
        }
        QCOMPARE(count, 27);
    }

    void statusAndDatabaseIconsAreDistinct()
    {
        // Icons that stand for different states must not look the same.
        const auto same = [](const char* a, const char* b) {
            return QImage(QStringLiteral(":/images/") + a) == QImage(QStringLiteral(":/images/") + b);
        };
        QVERIFY(!same("run.png", "stop.png"));
        QVERIFY(!same("server_on.png", "server_off.png"));
        QVERIFY(!same("filter_start.png", "filter_stop.png"));
        QVERIFY(!same("mysql.png", "mariadb.png"));
        QVERIFY(!same("mysql.png", "percona.png"));
        QVERIFY(!same("mariadb.png", "percona.png"));
        QVERIFY(!same("session.png", "sessions.png"));
    }

    void aboutAnimationPlays()
    {
        QMovie movie(QStringLiteral(":/images/avatar.gif"));
        QVERIFY(movie.isValid());
        QVERIFY(movie.jumpToFrame(0));
        QVERIFY(!movie.currentImage().isNull());
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"

// The images compiled into the program: every name the windows use is there
// and decodes as a small icon; icons for different states differ.
#include <QImage>
#include <QMovie>
#include <QtTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void imagesUsedByTheWindows()
    {
        // Each name, then (after '/') the icon of another state it must not look like.
        for (const QString& entry : QStringList{"chart_pie", "filter_start/filter_stop", "filter_stop", "flow", "help",
                                     "highlight", "mariadb/percona", "mysql/mariadb", "page_copy", "percona/mysql",
                                     "profiles", "run/stop", "search", "server_off", "server_on/server_off",
                                     "session/sessions", "sessions", "settings", "sql", "stop", "table_play",
                                     "table_save", "tag", "undo", "wordwrap"}) {
            const QImage image(QStringLiteral(":/images/%1.png").arg(entry.section('/', 0, 0)));
            QVERIFY2(image.size() == QSize(16, 16), qPrintable(entry));
            if (entry.contains('/'))
                QVERIFY2(image != QImage(QStringLiteral(":/images/%1.png").arg(entry.section('/', 1))), qPrintable(entry));
        }
        QCOMPARE(QImage(QStringLiteral(":/images/icon.ico")).size(), QSize(16, 16));
        QMovie about(QStringLiteral(":/images/avatar.gif"));
        QVERIFY(about.isValid() && about.jumpToFrame(0) && !about.currentImage().isNull());
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"

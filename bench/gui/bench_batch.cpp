// GUI-thread cost of one statement batch as the session and the top list
// grow, without a server: the main window, its session manager and a
// replayed session fed with distinct statements (as clients that do not
// prepare their statements send them), its tab open and shown.
//
// For each session size it prints the milliseconds of GUI-thread work per
// batch (recording, top lists, flow, session tab, painting), split into
// the recording step and everything that follows it:
//   size <statements> record-ms <ms/batch> views-ms <ms/batch>
// Work per batch that does not grow with the session shows as flat columns.
//
// usage: bench_batch [--sizes 10000,50000,200000] [--batch N] [--batches N]

#include "MainWindow.h"
#include "MngrSessions.h"
#include "Session.h"
#include "SessionData.h"
#include "SessionWidget.h"
#include "SessionsPage.h"
#include "Settings.h"
#include "StyleEngine.h"
#include "languageEngine.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>

#include <cstdio>

namespace {

QList<QVariantList> makeBatch(int first, int n)
{
    QList<QVariantList> batch;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = first; i < first + n; ++i) {
        // Durations wander so that the slowest statement rises now and then.
        const double ms = 0.05 + (i % 97) * 0.01 + (i % 1009 == 0 ? i / 50000.0 : 0.0);
        batch << QVariantList{now, ms, QByteArray("SELECT c FROM sbtest1 WHERE id=") + QByteArray::number(i),
                              0.05f, 0.2f, 1u, false};
    }
    return batch;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));

    QList<int> sizes{10000, 50000, 200000};
    int batchSize = 25, batches = 200;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& k = args.at(i);
        const QString& v = args.at(i + 1);
        if (k == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString& s : v.split(QLatin1Char(',')))
                sizes << s.toInt();
        } else if (k == QLatin1String("--batch")) {
            batchSize = v.toInt();
        } else if (k == QLatin1String("--batches")) {
            batches = v.toInt();
        } else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(k));
            return 2;
        }
    }
    if (batchSize <= 0 || batches <= 0) {
        std::fprintf(stderr, "usage: bench_batch [--sizes N,N,...] [--batch N] [--batches N]\n");
        return 2;
    }

    Settings settings;
    languageEngine lang(&settings);
    if (!lang.loadLanguage(QStringLiteral("english"))) {
        std::fprintf(stderr, "no language file (QUARVEL_DATA_DIR?)\n");
        return 1;
    }
    settings.AutoOpenNewSession = false;
    MngrSessions mngr(&settings);
    StyleEngine style;
    MainWindow window(&lang, &style, &settings, &mngr, QApplication::clipboard());
    window.resize(1280, 800);
    window.show();

    auto* session = new Session(&mngr);
    mngr.adoptSession(session);
    session->onStartSession(QDateTime::currentDateTime(), QStringLiteral("bench"), QStringLiteral("sbtest"), true);
    app.processEvents();
    SessionData* data = session->getSessionData();
    const int index = mngr.getSessionIndex(data->id);
    SessionWidget* tab = window.sessionsPage()->openTab(data, uint(index), true);
    window.form()->tabWidget->setCurrentWidget(tab);
    app.processEvents();

    int next = 0;
    for (int size : sizes) {
        // Grow to the size in large steps, then time batches of the usual size.
        while (next < size) {
            const int n = qMin(size - next, 2000);
            session->onNewQueries(makeBatch(next, n));
            next += n;
            app.processEvents();
        }
        qint64 recordNs = 0, viewsNs = 0;
        QElapsedTimer t;
        for (int b = 0; b < batches; ++b) {
            const QList<QVariantList> batch = makeBatch(next, batchSize);
            next += batchSize;
            t.start();
            session->onNewQueries(batch);
            const qint64 afterRecord = t.nsecsElapsed();
            app.processEvents();
            app.processEvents();
            recordNs += afterRecord;
            viewsNs += t.nsecsElapsed() - afterRecord;
        }
        std::printf("size %d record-ms %.3f views-ms %.3f\n", next, recordNs / 1e6 / batches,
                    viewsNs / 1e6 / batches);
        std::fflush(stdout);
    }
    window.onClickStartBtn();
    return 0;
}

// quarvel-capture: the profiler's proxy and capture engine without a display.
// Prints one line per captured statement on standard output and a summary
// when stopped by SIGINT or SIGTERM; with --archive it writes every session
// into the archive file as its statements come. A statement is kept only
// until it is printed and written: memory stays flat however long it runs.
#include "BuildInfo.h"
#include "ProcessTuning.h"
#include "ArchiveFormat.h"
#include "ArchiveStore.h"
#include "CaptureOptions.h"
#include "CaptureReport.h"
#include "MngrSessions.h"
#include "PatternDigest.h"
#include "ProxyServer.h"
#include "SessionData.h"
#include "Settings.h"
#include "languageEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QLocale>
#include <QHash>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <limits>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const char c = char(sig);
    ssize_t n = ::write(signalPipe[1], &c, 1);
    (void)n;
}

bool installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0;
}

QTextStream& out()
{
    static QTextStream s(stdout);
    return s;
}

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

/// A language text, or `fallback` when the language files could not be read.
QString message(const QString& text, const QString& fallback)
{
    return text.isEmpty() || text == languageEngine::missingText() ? fallback : text;
}

QString fixed(double v, int decimals)
{
    return QLocale::c().toString(v, 'f', decimals);
}

} // namespace

int main(int argc, char* argv[])
{
    tuneProcessForCapture();
    QCoreApplication app(argc, argv);
    // The same settings.ini as the desktop program.
    QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION));

    CaptureOptions options;
    QString optionError;
    if (!options.parse(app.arguments().mid(1), &optionError)) {
        err() << "quarvel-capture: " << optionError << "\nTry 'quarvel-capture --help'.\n";
        err().flush();
        return 2;
    }
    if (options.help) {
        out() << CaptureOptions::helpText();
        out().flush();
        return 0;
    }
    if (options.version) {
        out() << "quarvel-capture " << QCoreApplication::applicationVersion() << '\n';
        out().flush();
        return 0;
    }

    Settings settings;
    if (!settings.currentProfile()) {
        // settings.ini names a profile that is not there: start from the defaults
        settings.profiles.append(new Profile);
        settings.CurrentProfile = settings.profiles.size() - 1;
    }
    Profile* profile = settings.currentProfile();
    options.applyTo(profile);
    // Without the statistics connection the proxy listens from construction on.
    settings.AlwaysTunneling = options.noStats;

    languageEngine le(&settings);
    const bool haveLanguage = le.loadLanguage(settings.Language);

    MngrSessions mngr(&settings);
    mngr.listTopQueries = false; // the report counts statements by text itself
    CaptureReport report;
    int openSessions = 0;
    const bool quiet = options.quiet;

    // The archive: the same file and the same code as the window's Save.
    std::unique_ptr<ArchiveStore> archive;
    /// Sessions being written: the id text in the file, the statements
    /// written so far, and the reason once a step failed.
    struct Writing
    {
        QString savedAs;
        int written = 0;
        QString failure;
        /// Statements came since the last write.
        bool pending = false;
    };
    QHash<ulong, Writing> writing;
    if (options.archive) {
        const QString path = options.archive->isEmpty() ? ArchiveStore::defaultPath() : *options.archive;
        archive = std::make_unique<ArchiveStore>(QStringLiteral("quarvel-capture archive"));
        if (!archive->open(path)) {
            err() << "quarvel-capture: cannot use the archive " << path << ": " << archive->lastError() << '\n';
            err().flush();
            return 1;
        }
        // Commits a few times a second: without waiting for the disk at each.
        archive->setWriteAhead(true);
        // New sessions are numbered above every saved one.
        const quint64 top = archive->maxId();
        if (top > mngr.lastId)
            mngr.lastId = uint(qMin<quint64>(top, std::numeric_limits<uint>::max()));
        report.setArchive(path);
    }
    const auto startWriting = [&](const SessionData* s) {
        if (!archive || !s->authenticated)
            return;
        Writing& w = writing[s->id];
        if (!archive->saveBegin(*s, &w.savedAs))
            w.failure = archive->lastError();
    };
    const auto writeStatements = [&](const SessionData* s) {
        const auto w = writing.find(s->id);
        if (w == writing.end() || !w->failure.isEmpty())
            return;
        w->pending = false;
        if (!archive->saveStatements(w->savedAs, *s, w->written)) {
            w->failure = archive->lastError();
            archive->remove({w->savedAs});
        }
        w->written = s->queries.size();
    };
    // Statements of archived sessions are written a few times a second, one
    // transaction per session, and let go once written: a transaction per
    // batch of the decoder made the program fall behind under load, and the
    // statements waiting for it piled up.
    const auto writePending = [&] {
        for (SessionData* s : qAsConst(mngr.sessions)) {
            const auto w = writing.constFind(s->id);
            if (w == writing.constEnd() || !w->pending)
                continue;
            writeStatements(s);
            s->queries.releaseBefore(s->queries.size());
        }
    };
    QTimer writeTimer;
    writeTimer.setInterval(250);
    QObject::connect(&writeTimer, &QTimer::timeout, writePending);
    if (archive)
        writeTimer.start();
    // Nothing is kept for long here: what a burst took is given back.
    QTimer trimTimer;
    trimTimer.setInterval(10000);
    QObject::connect(&trimTimer, &QTimer::timeout, &returnFreedMemory);
    trimTimer.start();
    const auto archiveSession = [&](const SessionData* s) {
        const auto w = writing.find(s->id);
        if (w == writing.end())
            return;
        const Writing done = w.value();
        writing.erase(w);
        const QString id = ArchiveFormat::sessionId(s->id);
        const QString savedAs = done.savedAs;
        QString failure = done.failure;
        if (failure.isEmpty() && !archive->saveEnd(savedAs, *s)) {
            failure = archive->lastError();
            archive->remove({savedAs});
        }
        if (!failure.isEmpty()) {
            report.addArchiveFailure();
            err() << "quarvel-capture: session " << id << " could not be saved to the archive: " << failure << '\n';
            err().flush();
            return;
        }
        report.addArchived();
        if (!quiet) {
            out() << "# session " << id << " saved to the archive";
            if (savedAs != id)
                out() << " as " << savedAs << " (its number was taken)";
            out() << '\n';
            out().flush();
        }
    };

    QObject::connect(&mngr, &MngrSessions::addSession, [&](uint index) {
        ++openSessions;
        report.addSession();
        const SessionData* s = mngr.getSessionData(index);
        if (!s)
            return;
        startWriting(s);
        if (quiet)
            return;
        out() << "# session " << CaptureReport::sessionNumber(s->id) << " opened: user " << s->userName
              << ", database " << (s->dbName.isEmpty() ? QStringLiteral("(none)") : s->dbName) << '\n';
        out().flush();
    });
    QObject::connect(&mngr, &MngrSessions::closeSession, [&](uint index) {
        --openSessions;
        const SessionData* s = mngr.getSessionData(index);
        if (!s)
            return;
        if (!quiet) {
            out() << "# session " << CaptureReport::sessionNumber(s->id) << " closed: " << s->queries.size()
                  << " statements, " << s->duration.toString(QStringLiteral("hh:mm:ss.zzz")) << '\n';
            out().flush();
        }
        const auto w = writing.find(s->id);
        if (w != writing.end() && w->pending)
            writeStatements(s);
        archiveSession(s);
    });
    QObject::connect(&mngr, &MngrSessions::newQueriesSession, [&](uint index, uint indexQuery, uint count) {
        SessionData* s = mngr.getSessionData(index);
        if (!s)
            return;
        const int end = qMin(s->queries.size(), int(indexQuery + count));
        for (int i = qMax(int(indexQuery), s->queries.released()); i < end; ++i) {
            const Query stored = s->queries.at(i);
            const Query* q = &stored;
            CapturedStatement c;
            c.finishedAt = q->finishedAt;
            c.session = s->id;
            c.user = s->userName;
            c.database = q->dbName;
            c.durationMs = q->durationMs;
            c.rows = q->rows;
            c.kbReceived = q->responseKb;
            c.kbSent = q->requestKb;
            c.error = q->isError;
            c.text = q->text;
            report.addStatement(c);
            if (!quiet)
                out() << CaptureReport::statementLine(c) << '\n';
        }
        if (!quiet)
            out().flush();
        // Printed and counted: nothing but the archive needs the statements now.
        const auto w = writing.find(s->id);
        if (w != writing.end() && w->failure.isEmpty())
            w->pending = true;
        else
            s->queries.releaseBefore(s->queries.size());
    });

    ProxyServer proxy(&settings, &mngr, haveLanguage ? &le : nullptr);
    bool starting = true;
    bool startFailed = false;
    const QString target = profile->ConnectionMethod == 1
                               ? profile->Socket
                               : profile->Host + QLatin1Char(':') + QString::number(profile->Port);
    QObject::connect(&proxy, &ProxyServer::errorReported, [&](const QString& title, const QString& text) {
        QString line = message(title, QStringLiteral("Error")) + QStringLiteral(": ");
        if (proxy.dbIsOpen()) {
            // the statistics connection is fine: the profiler port failed
            line += text + QStringLiteral(" (profiler port ") + QString::number(profile->ProfilerPort)
                    + QLatin1Char(')');
        } else {
            line += message(text, QStringLiteral("cannot connect to the database server"));
            line += QStringLiteral(" (server ") + target;
            const QString detail = proxy.lastDatabaseError().trimmed();
            if (!detail.isEmpty())
                line += QStringLiteral(": ") + detail;
            line += QLatin1Char(')');
        }
        err() << "quarvel-capture: " << line << '\n';
        err().flush();
    });
    QObject::connect(&proxy, &ProxyServer::stopCaptureRequested, [&]() {
        if (starting) {
            startFailed = true;
            return;
        }
        // The statistics connection is gone for good; relaying goes on.
        err() << "quarvel-capture: statistics connection lost; relaying goes on without statistics\n";
        err().flush();
    });
    QObject::connect(&proxy, &ProxyServer::updateStatSignal,
                     [&](const QString& uptime, const QList<double>& params, const QList<double>&,
                         const QList<double>& graph, const QString&) {
                         if (quiet || uptime == QLatin1String("None") || params.isEmpty())
                             return;
                         out() << "# server: uptime " << uptime << ", " << fixed(params.value(0), 1)
                               << " statements/s";
                         if (graph.size() >= 4)
                             out() << ", " << graph[1] << " connections, sent " << fixed(graph[2], 1)
                                   << " KiB/s, received " << fixed(graph[3], 1) << " KiB/s";
                         out() << '\n';
                         out().flush();
                     });

    if (options.noStats) {
        if (!proxy.isListening()) {
            err() << "quarvel-capture: cannot listen on port " << profile->ProfilerPort << ": "
                  << proxy.errorString() << '\n';
            return 1;
        }
    } else {
        // The start finishes in the event loop.
        QEventLoop started;
        QObject::connect(&proxy, &ProxyServer::serverStateChanged, &started, &QEventLoop::quit);
        QObject::connect(&proxy, &ProxyServer::stopCaptureRequested, &started, &QEventLoop::quit);
        proxy.startProxy();
        while (proxy.isStarting() && !startFailed)
            started.exec();
        if (startFailed || !proxy.isRunning())
            return 1;
    }
    starting = false;
    err() << "quarvel-capture: listening on " << proxy.serverAddress().toString() << ':' << proxy.serverPort()
          << ", relaying to " << target;
    if (!options.noStats)
        err() << " (" << proxy.versionText() << ')';
    err() << '\n';
    err().flush();

    if (!installSignalHandlers()) {
        err() << "quarvel-capture: cannot install the signal handlers\n";
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&]() {
        char c;
        ssize_t n = ::read(signalPipe[0], &c, 1);
        (void)n;
        notifier.setEnabled(false);
        QCoreApplication::quit();
    });
    app.exec();

    // Stop: no new connections, close the open ones, then let their last
    // statements and closes arrive before the summary.
    proxy.stopProxy();
    proxy.close();
    QElapsedTimer waited;
    waited.start();
    QEventLoop drain;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&]() {
        // the decoders hand over their last batch within 100 ms of the close
        static qint64 allClosedAt = -1;
        if (openSessions <= 0 && allClosedAt < 0)
            allClosedAt = waited.elapsed();
        if ((allClosedAt >= 0 && waited.elapsed() - allClosedAt >= 300) || waited.elapsed() >= 5000)
            drain.quit();
    });
    tick.start(20);
    drain.exec();

    // Sessions whose end did not arrive in time are closed as they stand.
    if (archive) {
        const QDateTime now = QDateTime::currentDateTime();
        for (SessionData* s : qAsConst(mngr.sessions)) {
            if (s->duration.isNull() && s->startedAt.isValid())
                s->duration = QTime(0, 0).addMSecs(int(qMin<qint64>(s->startedAt.msecsTo(now), 86399999)));
            archiveSession(s);
        }
        archive->setWriteAhead(false); // the plain journal again, unless the file is open elsewhere
    }

    out() << report.summary();
    if (options.digest) {
        const PatternStats& patterns = mngr.statementPatterns.patterns;
        out() << (options.digestTsv ? PatternDigest::tsv(patterns, *options.digest)
                                    : PatternDigest::text(patterns, *options.digest));
    }
    out().flush();
    return report.notArchived() > 0 ? 3 : 0;
}

// An SQL editor tab of the main window against a server made far away by a
// delaying relay, with a 10 ms timer watching the window's thread.
//
// Phases, each printed as "<phase> ms <wall time> stall-ms-max <longest gap
// between two timer ticks>":
//   open       the toolbar's SQL editor button until the tab lists the databases
//   execute    --statements SELECT statements, one result tab each up to the limit
//   explain    EXPLAIN of the same statements
//   profile    one statement profiled
//   stop       SELECT SLEEP(30) started, Stop pressed after --sleep-ms, until the run ended
// and at the end "stall-ms-max <over the whole run>".
//
// usage: bench_editor --server HOST:PORT --user U --password P
//                     [--delay-ms 50] [--statements 200] [--sleep-ms 2000]

#include "DelayRelay.h"
#include "MainWindow.h"
#include "MngrSessions.h"
#include "Settings.h"
#include "SqlWidget.h"
#include "StyleEngine.h"
#include "languageEngine.h"
#include "ui_SqlWidget.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

QString option(const QStringList& args, const QString& name, const QString& def)
{
    const int at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : def;
}

/// Longest gap between two ticks of a 10 ms timer since the last reset().
class StallWatch : public QObject
{
public:
    StallWatch()
    {
        clock.start();
        connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 now = clock.elapsed();
            phaseMax = qMax(phaseMax, now - last);
            totalMax = qMax(totalMax, now - last);
            last = now;
        });
        timer.start(10);
    }
    void reset() { phaseMax = 0; last = clock.elapsed(); }
    qint64 phaseMax = 0, totalMax = 0;

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
};

/// Runs the event loop until `done` holds.
void waitFor(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
    QCoreApplication::setApplicationName(QStringLiteral("QuarvelBench"));
    const QStringList args = app.arguments();
    const QStringList server = option(args, "--server", "127.0.0.1:3306").split(':');
    const int delay = option(args, "--delay-ms", "50").toInt();
    const int statements = option(args, "--statements", "200").toInt();
    const int sleepMs = option(args, "--sleep-ms", "2000").toInt();

    DelayRelay relay(server.value(0), quint16(server.value(1).toUInt()), delay);
    Settings settings;
    languageEngine lang(&settings);
    lang.loadLanguage(QStringLiteral("english"));
    MngrSessions mngr(&settings);
    StyleEngine style;
    Profile* p = settings.currentProfile();
    p->Host = QStringLiteral("127.0.0.1");
    p->Port = relay.port();
    p->User = option(args, "--user", "root");
    p->Password = option(args, "--password", QString());
    p->DbType = 1;
    MainWindow window(&lang, &style, &settings, &mngr, QApplication::clipboard());
    window.show();

    StallWatch watch;
    QElapsedTimer phase;
    const auto report = [&](const char* name) {
        std::printf("%-8s ms %6lld stall-ms-max %4lld\n", name, static_cast<long long>(phase.elapsed()),
                    static_cast<long long>(watch.phaseMax));
        std::fflush(stdout);
    };
    const auto start = [&] {
        watch.reset();
        phase.start();
    };

    start();
    window.findChild<QPushButton*>(QStringLiteral("btnSql"))->click();
    SqlWidget* tab = window.findChild<SqlWidget*>();
    waitFor([tab] { return tab->form()->cbxDb->count() > 1; });
    report("open");

    QString script;
    for (int i = 0; i < statements; ++i)
        script += QStringLiteral("SELECT %1, REPEAT('x', 100);\n").arg(i);
    const auto run = [&](const char* name, QPushButton* button, const QString& text) {
        tab->form()->codeviewer->setPlainText(text);
        start();
        button->click();
        waitFor([tab] { return !tab->isRunning(); });
        report(name);
    };
    run("execute", tab->form()->btnExecute, script);
    run("explain", tab->form()->btnExplain, script);
    run("profile", tab->form()->btnProfile, QStringLiteral("SELECT COUNT(*) FROM information_schema.COLUMNS"));

    tab->form()->codeviewer->setPlainText(QStringLiteral("SELECT SLEEP(30)"));
    start();
    tab->form()->btnExecute->click();
    QTimer::singleShot(sleepMs, tab->form()->btnStop, &QPushButton::click);
    waitFor([tab] { return !tab->isRunning(); });
    report("stop");

    std::printf("stall-ms-max %lld\n", static_cast<long long>(watch.totalMax));
    return 0;
}

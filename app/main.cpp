// Entry point of the desktop program: builds the object graph on the stack,
// wires the signals no single class owns, runs the event loop and tears
// everything down in reverse order.
//
// `quarvel --version` and `quarvel --help` print and end before anything else
// (no display, no single-instance guard, no settings).
//
// Exit codes: 0 another instance runs, 15 no usable language file,
// 20 the connection-profile dialog was closed without a profile, otherwise
// the event loop's result.

#include "BuildInfo.h"
#include "DataPaths.h"
#include "MainWindow.h"
#include "ProfilesDialog.h"
#include "ProxyServer.h"
#include "Settings.h"
#include "ProcessTuning.h"
#include "SingleInstance.h"
#include "StyleEngine.h"
#include "languageEngine.h"
#include "MngrSessions.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QTextCodec>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char helpText[] =
    "Usage: quarvel [QT-OPTIONS]\n"
    "\n"
    "Desktop profiler for database servers that speak the MySQL client/server\n"
    "protocol. Point a client application at the profiler port (default\n"
    "127.0.0.1:4040) instead of the server: every connection is relayed to the\n"
    "server of the current connection profile and its statements are shown live.\n"
    "\n"
    "Options:\n"
    "  --help, -h     show this text and exit\n"
    "  --version      show the program version and exit\n"
    "Other options are the toolkit's own (for example -platform, -style).\n"
    "\n"
    "Only one window runs per user: a second start ends at once.\n"
    "Connection profiles and options are kept in settings.ini, saved sessions in\n"
    "savedSessions, both in $XDG_DATA_HOME/data/Tessam/Quarvel (default\n"
    "~/.local/share/data/Tessam/Quarvel). Languages, theme and highlighter are\n"
    "read from $QUARVEL_DATA_DIR (default " QUARVEL_DEFAULT_DATA_DIR ").\n"
    "\n"
    "Exit codes: 0 when another window already runs, 15 when no language file\n"
    "can be loaded, 20 when the connection profile dialog is cancelled,\n"
    "otherwise 0 after the window is closed.\n"
    "\n"
    "Without a display, quarvel-capture relays and prints statements instead.\n";

/// Answers --version and --help on standard output; returns the exit code, or
/// -1 when the window is to start.
int answerInfoOption(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("quarvel %s\n", QUARVEL_VERSION);
            return 0;
        }
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(helpText, stdout);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    const int answered = answerInfoOption(argc, argv);
    if (answered >= 0)
        return answered;

    // 1. C strings are UTF-8 (QString::fromUtf8 is Qt 5's default for literals);
    //    keep the locale codec UTF-8 too, as the program's texts assume it.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    // 2. The application object and the single-instance guard. The guard
    //    decides before anything is read or written.
    tuneProcessForCapture();
    auto app = std::make_unique<QApplication>(argc, argv);
    auto guard = std::make_unique<SingleInstance>(QStringLiteral("quarvel"));
    if (guard->isRunning()) {
        guard.reset();
        app.reset();
        return 0;
    }

    // 3.
    app->setStyleSheet(QStringLiteral(
        "QTableView {selection-background-color: #9cceff; selection-color: #000000}"));
    // 4. Qt 5 finds its own plug-ins; the old location does no harm.
    QCoreApplication::addLibraryPath(QStringLiteral("/usr/lib/plugins/"));
    // 5.
    QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));

    // 6. Load settings.ini and write [General] back (creates it on a first run).
    auto settings = std::make_unique<Settings>();
    settings->saveGeneral();

    // 7.
    auto lang = std::make_unique<languageEngine>(settings.get());
    if (!lang->loadLanguage(lang->currentLanguage)) {
        lang.reset();
        settings.reset();
        guard.reset();
        app.reset();
        return 15;
    }
    // 8.
    QObject::connect(settings.get(), &Settings::changeLanguage, lang.get(),
                     &languageEngine::changeLanguage);

    // 9.
    auto mngr = std::make_unique<MngrSessions>(settings.get());
    auto style = std::make_unique<StyleEngine>();
    auto window = std::make_unique<MainWindow>(lang.get(), style.get(), settings.get(), mngr.get(),
                                               QApplication::clipboard());

    // 10.
    if (settings->StayOnTop)
        window->setWindowFlags(window->windowFlags() | Qt::WindowStaysOnTopHint);
    // 11.
    window->show();

    // 12. First run: the general options before anything else.
    if (!settings->existsFile())
        window->onClickSettingsBtn();

    // 13.
    auto profiles = std::make_unique<ProfilesDialog>(settings.get(), lang.get(), window.get());
    const int chosen = profiles->exec();
    if (chosen != QDialog::Accepted) {
        profiles.reset();
        window.reset();
        style.reset();
        mngr.reset();
        lang.reset();
        settings.reset();
        guard.reset();
        app.reset();
        return 20;
    }

    // 14.
    window->settingsUpdate();
    QCoreApplication::setApplicationVersion(MainWindow::_version);
    QObject::connect(guard.get(), &SingleInstance::activated, window.get(), [w = window.get()]() {
        w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        w->raise();
        w->activateWindow();
    });

    // 15. The proxy (listening at once with AlwaysTunneling) and its wiring.
    auto proxy = std::make_unique<ProxyServer>(settings.get(), mngr.get(), lang.get());
    QObject::connect(proxy.get(), &ProxyServer::updateStatSignal, window.get(),
                     &MainWindow::serverStatisticUpdate);
    QObject::connect(window.get(), &MainWindow::startBtnPress, proxy.get(), &ProxyServer::startProxy);
    QObject::connect(window.get(), &MainWindow::stopBtnPress, proxy.get(), &ProxyServer::stopProxy);
    QObject::connect(proxy.get(), &ProxyServer::serverStateChanged, window.get(),
                     &MainWindow::onServerStateChanged);
    window->setProxy(proxy.get());

    // 16.
    if (settings->AutoStart)
        window->onClickStartBtn();

    // 17. SQL editor tabs do not share the proxy's statistics connection: each
    //     tab opens a connection of its own to the current profile's server,
    //     in a worker thread, so a long statement never holds up the window or
    //     the statistics. The window takes only the server version the proxy
    //     read (setProxy() above) as a first guess for visual EXPLAIN.

    // 18. A quiet update check: only a newer version is announced (and
    //     nothing is sent when no update service is configured).
    if (settings->CheckUpdate)
        window->checkUpdates(false);

    // 19.
    const int result = app->exec();

    proxy.reset();
    profiles.reset();
    window.reset();
    style.reset();
    mngr.reset();
    lang.reset();
    settings.reset();
    guard.reset();
    app.reset();
    return result;
}

// Entry point of the desktop program: builds the object graph on the stack,
// wires the signals no single class owns, runs the event loop and tears
// everything down in reverse order.
//
// Exit codes: 0 another instance runs, 15 no usable language file,
// 20 the connection-profile dialog was closed without a profile, otherwise
// the event loop's result.

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

#include <memory>

int main(int argc, char* argv[])
{
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

#pragma once
// Shared by the window and dialog tests: the program's objects on a fresh
// settings.ini, a watcher that answers modal windows, widget lookup by name.

#include "MainWindow.h"
#include "MngrSessions.h"
#include "Settings.h"
#include "StyleEngine.h"
#include "languageEngine.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

/// Settings on a fresh settings.ini, English texts, the session manager and
/// the main window, wired as the program wires them.
struct App
{
    App()
    {
        QCoreApplication::setOrganizationName("Tessam");
        QCoreApplication::setApplicationName("Quarvel");
        QFile::remove(iniPath());
        settings = std::make_unique<Settings>();
        lang = std::make_unique<languageEngine>(settings.get());
        if (!lang->loadLanguage("english"))
            qFatal("english texts missing");
        QObject::connect(settings.get(), &Settings::changeLanguage, lang.get(), &languageEngine::changeLanguage);
        mngr = std::make_unique<MngrSessions>(settings.get());
        style = std::make_unique<StyleEngine>();
        win = std::make_unique<MainWindow>(lang.get(), style.get(), settings.get(), mngr.get(), qApp->clipboard());
    }
    static QString iniPath() { return Settings::dataLocation() + "/settings.ini"; }
    static QByteArray iniBytes()
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : "<missing>";
    }
    /// "title|text" of a message box whose texts are in `section`.
    QString box(QString (languageEngine::*section)(const QString&) const, const char* title, const char* text) const
    {
        return (lang.get()->*section)(title) + '|' + (lang.get()->*section)(text);
    }

    std::unique_ptr<Settings> settings;
    std::unique_ptr<languageEngine> lang;
    std::unique_ptr<MngrSessions> mngr;
    std::unique_ptr<StyleEngine> style;
    std::unique_ptr<MainWindow> win;
};

template <typename T> T* child(QObject* parent, const char* name)
{
    T* c = parent->findChild<T*>(QLatin1String(name));
    if (!c)
        qFatal("no widget %s", name);
    return c;
}

/// A local port that nothing listens on.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

/// Answers the modal windows that exec() opens: message boxes are recorded
/// ("title|text") and answered with `answer` (else OK); other dialogs are
/// recorded by object name and handed to `onDialog` (else rejected).
class ModalWatcher : public QTimer
{
public:
    explicit ModalWatcher(QWidget* ignore) : ignored(ignore)
    {
        QObject::connect(this, &QTimer::timeout, this, &ModalWatcher::poll);
        start(10);
    }
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    std::function<void(QDialog*)> onDialog;
    QStringList boxes, dialogs;

private:
    void poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == ignored || w == handled)
            return;
        handled = w;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes << box->windowTitle() + '|' + box->text();
            QAbstractButton* b = box->button(answer) ? box->button(answer) : box->button(QMessageBox::Ok);
            b ? b->click() : box->reject();
        } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
            dialogs << dialog->objectName();
            onDialog ? onDialog(dialog) : dialog->reject();
        }
    }
    QPointer<QWidget> ignored, handled;
};

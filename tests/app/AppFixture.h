#pragma once
// Shared by the window and dialog tests: the program's objects on a fresh
// settings.ini (the modal watcher and widget lookup come with it).

#include "MainWindow.h"
#include "ModalWatcher.h"
#include "MngrSessions.h"
#include "StyleEngine.h"
#include "TestDb.h"
#include "TestTexts.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <memory>

/// Settings on a fresh settings.ini, English texts, the session manager and
/// the main window, wired as the program wires them.
struct App : EnglishTexts
{
    App() : EnglishTexts(true)
    {
        QObject::connect(settings.get(), &Settings::changeLanguage, lang.get(), &languageEngine::changeLanguage);
        mngr = std::make_unique<MngrSessions>(settings.get());
        style = std::make_unique<StyleEngine>();
        win = std::make_unique<MainWindow>(lang.get(), style.get(), settings.get(), mngr.get(), qApp->clipboard());
    }
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

    std::unique_ptr<MngrSessions> mngr;
    std::unique_ptr<StyleEngine> style;
    std::unique_ptr<MainWindow> win;
};

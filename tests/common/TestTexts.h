#pragma once
// Settings and the English texts, as the program sets them up at start.

#include "Settings.h"
#include "languageEngine.h"

#include <QCoreApplication>
#include <QFile>

#include <memory>

struct EnglishTexts
{
    /// `freshIni`: settings.ini removed first, so that every setting has its default.
    explicit EnglishTexts(bool freshIni = false)
    {
        QCoreApplication::setOrganizationName("Tessam");
        QCoreApplication::setApplicationName("Quarvel");
        if (freshIni)
            QFile::remove(iniPath());
        settings = std::make_unique<Settings>();
        lang = std::make_unique<languageEngine>(settings.get());
        if (!lang->loadLanguage("english"))
            qFatal("english texts missing");
    }
    static QString iniPath() { return Settings::dataLocation() + "/settings.ini"; }

    std::unique_ptr<Settings> settings;
    std::unique_ptr<languageEngine> lang;
};

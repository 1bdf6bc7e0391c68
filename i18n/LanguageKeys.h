#pragma once

#include <QList>
#include <QString>
#include <QStringList>

/// The keys the program looks up in one group of a language file.
struct LanguageGroupKeys
{
    QString group;      ///< group element of the language file, e.g. "toolbar"
    QStringList keys;   ///< keys looked up in that group
};

/// Every key the program looks up, by group, in file order of the groups.
/// Each shipped language file provides at least these. Thread-safe.
const QList<LanguageGroupKeys>& languageKeys();

#include "languageEngine.h"

#include "BuildInfo.h"
#include "DataPaths.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

namespace {
const QString kVersion = QStringLiteral("version");
const QString kLanguage = QStringLiteral("language");
const QString kCompatible = QStringLiteral("compatible");
const QString kRoot = QStringLiteral("general");
}

languageEngine::languageEngine(Settings* settings, QObject* parent)
    : QObject(parent), settingsStore(settings)
{
    if (settingsStore)
        currentLanguage = settingsStore->Language;
    languagesDir = quarvelDataDir() + QStringLiteral("/languages/");
    // Texts needed before any language file is loaded.
    errorsTable.insert(QStringLiteral("error_str"), QStringLiteral("Error"));
    errorsTable.insert(QStringLiteral("lang_error"),
                       QStringLiteral("The language file is not compatible with this version of the program"));
    scanDirectory();
}

QString languageEngine::programVersion()
{
    return QStringLiteral(QUARVEL_VERSION);
}

QString languageEngine::lookup(const QMap<QString, QString>& table, const QString& key) const
{
    const auto it = table.constFind(key);
    return it == table.constEnd() ? missingText() : it.value();
}

QMap<QString, QString>* languageEngine::tableForGroup(const QString& group)
{
    if (group == QLatin1String("toolbar")) return &toolbarTable;
    if (group == QLatin1String("settings_view")) return &settingsTable;
    if (group == QLatin1String("about_view")) return &aboutTable;
    if (group == QLatin1String("statistics_view")) return &statisticsTable;
    if (group == QLatin1String("sessions_view")) return &sessionsTable;
    if (group == QLatin1String("archive_view")) return &archiveTable;
    if (group == QLatin1String("flow_view")) return &flowTable;
    if (group == QLatin1String("session_view") || group == QLatin1String("twin_view")
        || group == QLatin1String("data_view"))
        return &sessionTable;
    if (group == QLatin1String("update_view")) return &updateTable;
    if (group == QLatin1String("sql_view")) return &sqlTable;
    if (group == QLatin1String("errors")) return &errorsTable;
    if (group == QLatin1String("connections_view")) return &connectionsTable;
    if (group == QLatin1String("compare_view")) return &compareTable;
    if (group == QLatin1String("export_view")) return &exportTable;
    return nullptr;
}

QString languageEngine::text(const QString& group, const QString& key) const
{
    auto* table = const_cast<languageEngine*>(this)->tableForGroup(group);
    return table ? lookup(*table, key) : missingText();
}

void languageEngine::clearTables()
{
    for (auto* t : {&toolbarTable, &settingsTable, &aboutTable, &statisticsTable, &sessionsTable,
                    &archiveTable, &flowTable, &sessionTable, &updateTable, &sqlTable, &errorsTable,
                    &connectionsTable, &compareTable, &exportTable})
        t->clear();
}

bool languageEngine::readVersion(QXmlStreamReader* reader, QString* displayName, bool* displayBeforeCompatible)
{
    if (displayBeforeCompatible)
        *displayBeforeCompatible = false;
    // Up to the start of the version element.
    while (!reader->atEnd() && !(reader->isStartElement() && reader->name() == kVersion))
        reader->readNext();
    if (reader->atEnd())
        return false;
    bool haveName = false;
    while (!reader->atEnd()) {
        reader->readNext();
        if (reader->isEndElement() && reader->name() == kVersion)
            break;
        if (!reader->isStartElement())
            continue;
        if (reader->name() == kLanguage) {
            const QString name = reader->readElementText(QXmlStreamReader::IncludeChildElements);
            if (displayName)
                *displayName = name;
            haveName = true;
        } else if (reader->name() == kCompatible) {
            const QString compatible =
                reader->readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            if (displayBeforeCompatible)
                *displayBeforeCompatible = haveName;
            return !reader->hasError() && compatible == QLatin1String(QUARVEL_VERSION_COMPAT);
        }
    }
    return false;
}

bool languageEngine::checkVersion(QXmlStreamReader* reader)
{
    return readVersion(reader, nullptr, nullptr);
}

void languageEngine::scanDirectory()
{
    languages.clear();
    const QDir dir(languagesDir);
    const QStringList files = dir.entryList(QStringList() << QStringLiteral("*.lng"),
                                            QDir::Files | QDir::Readable,
                                            QDir::Name | QDir::IgnoreCase);
    for (const QString& fileName : files) {
        QFile file(dir.filePath(fileName));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QXmlStreamReader reader(&file);
        QString displayName;
        bool named = false;
        if (!readVersion(&reader, &displayName, &named))
            continue;
        // [2] stays empty when the file names its language after `compatible`,
        // so that every entry has the same shape for the settings dialog.
        languages.append(QStringList() << fileName << fileName.left(fileName.size() - 4)
                                       << (named ? displayName : QString()));
    }
}

void languageEngine::parsingGroup(QXmlStreamReader* reader, QMap<QString, QString>* table)
{
    reader->readNextStartElement();
    while (!reader->isEndElement() && !reader->atEnd() && !reader->hasError()) {
        const QString key = reader->name().toString();
        const QString value = reader->readElementText(QXmlStreamReader::IncludeChildElements);
        if (reader->hasError())
            break;
        table->insert(key, value);
        reader->readNextStartElement();
    }
}

bool languageEngine::loadLanguage(QString name)
{
    if (languages.isEmpty())
        return false;
    int index = 0;
    for (int i = 0; i < languages.size(); ++i) {
        if (languages.at(i).at(1) == name) {
            index = i;
            break;
        }
    }
    const QStringList entry = languages.at(index);
    QFile file(languagesDir + entry.at(0));
    // An unreadable file changes nothing: neither the texts nor the current
    // language nor the settings.
    if (!file.open(QIODevice::ReadOnly))
        return false;

    currentIndex = index;
    currentLanguage = entry.at(1);
    if (settingsStore && settingsStore->Language != currentLanguage)
        settingsStore->setLanguage(currentLanguage);

    clearTables();
    QXmlStreamReader reader(&file);
    reader.readNext();   // start of the document
    reader.readNext();
    if (reader.isStartElement() && reader.name() == kRoot) {
        while (!reader.atEnd()) {
            reader.readNext();
            if (!reader.isStartElement())
                continue;
            if (auto* table = tableForGroup(reader.name().toString()))
                parsingGroup(&reader, table);
        }
    }
    return true;
}

void languageEngine::changeLanguage(QString lang)
{
    if (loadLanguage(lang)) {
        emit languageChange();
        return;
    }
    if (lang != currentLanguage) {
        // Settings already name `lang`: point them back, which (through the
        // settings' signal) reloads the previous language.
        if (settingsStore)
            settingsStore->setLanguage(currentLanguage);
    } else {
        emit errorLang();
    }
}

#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class QXmlStreamReader;
class Settings;

/// Texts of the current language, looked up by group and key from the XML
/// language files in quarvelDataDir() + "/languages/". A missing key reads as
/// the literal "no_translate". GUI thread only.
class languageEngine : public QObject
{
    Q_OBJECT
public:
    languageEngine(Settings* settings, QObject* parent = nullptr);

    /// The installed, compatible languages in directory order; each entry holds
    /// [0] the file name, [1] the base name, [2] the display name when present.
    QList<QStringList> listLanguages() const { return languages; }

    /// Compatibility test from the reader's position: true when the
    /// `compatible` text inside the next `version` element equals the
    /// program's major.minor version (QUARVEL_VERSION_COMPAT).
    bool checkVersion(QXmlStreamReader* reader);
    /// Reads the entries of one group (element name -> text) into `table`
    /// until the group's end tag, the end of the document or an XML error.
    void parsingGroup(QXmlStreamReader* reader, QMap<QString, QString>* table);

    QString toolbar(const QString& key) const { return lookup(toolbarTable, key); }
    QString settings(const QString& key) const { return lookup(settingsTable, key); }
    QString about(const QString& key) const { return lookup(aboutTable, key); }
    QString statistics(const QString& key) const { return lookup(statisticsTable, key); }
    QString sessions(const QString& key) const { return lookup(sessionsTable, key); }
    QString archive(const QString& key) const { return lookup(archiveTable, key); }
    QString flow(const QString& key) const { return lookup(flowTable, key); }
    /// Session view, twin view and data viewer share this table.
    QString session(const QString& key) const { return lookup(sessionTable, key); }
    QString update(const QString& key) const { return lookup(updateTable, key); }
    QString sql(const QString& key) const { return lookup(sqlTable, key); }
    QString errors(const QString& key) const { return lookup(errorsTable, key); }
    QString connections(const QString& key) const { return lookup(connectionsTable, key); }
    QString compare(const QString& key) const { return lookup(compareTable, key); }
    QString exports(const QString& key) const { return lookup(exportTable, key); }

    /// Lookup by the name of a group element of the language file
    /// ("toolbar", "session_view", "twin_view", ...); "no_translate" for an
    /// unknown group or key.
    QString text(const QString& group, const QString& key) const;

    /// The literal shown for every key the current language lacks.
    static QString missingText() { return QStringLiteral("no_translate"); }
    /// The program's version, the project version of the build.
    static QString programVersion();

    /// Base name of the loaded language (from the settings until one is loaded).
    QString currentLanguage;
    /// Index in listLanguages() of the loaded language.
    qint32 currentIndex = 0;
    /// Folder of the language files, with a trailing slash.
    QString languagesDir;

public slots:
    /// Loads the language with base name `name`, or the first listed one when
    /// `name` is not listed (correcting the settings' Language). False when no
    /// language is listed or the file cannot be opened; the texts then stay
    /// as they were.
    bool loadLanguage(QString name);
    /// Run-time switch: emits languageChange() on success; on failure returns
    /// to the previous language, or emits errorLang() when that was `lang`.
    void changeLanguage(QString lang);

signals:
    void languageChange();
    void errorLang();

private:
    QString lookup(const QMap<QString, QString>& table, const QString& key) const;
    QMap<QString, QString>* tableForGroup(const QString& group);
    void scanDirectory();
    void clearTables();
    /// Reads from the reader's position through the `version` element;
    /// `displayName` receives the `language` text met before `compatible`.
    bool readVersion(QXmlStreamReader* reader, QString* displayName, bool* displayBeforeCompatible);

    QList<QStringList> languages;
    Settings* settingsStore = nullptr;

    QMap<QString, QString> toolbarTable;
    QMap<QString, QString> settingsTable;
    QMap<QString, QString> aboutTable;
    QMap<QString, QString> statisticsTable;
    QMap<QString, QString> sessionsTable;
    QMap<QString, QString> archiveTable;
    QMap<QString, QString> flowTable;
    QMap<QString, QString> sessionTable;
    QMap<QString, QString> updateTable;
    QMap<QString, QString> sqlTable;
    QMap<QString, QString> errorsTable;
    QMap<QString, QString> connectionsTable;
    QMap<QString, QString> compareTable;
    QMap<QString, QString> exportTable;
};

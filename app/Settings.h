#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

/// One connection profile; every field is named by its settings.ini key.
/// A plain record: all functions are to be called from the GUI thread only.
struct Profile
{
    QString Name = QStringLiteral("Unknown");
    qint32 DbType = 0;
    qint32 ConnectionMethod = 0;          ///< 0 TCP/IP to Host:Port, 1 local socket
    QString Host = QStringLiteral("localhost");
    quint32 Port = 3306;
    QString User = QStringLiteral("root");
    QString Password;                     ///< in clear in memory
    bool Compression = false;
    QString Socket = QStringLiteral("/tmp/mysql.sock");
    bool StatusCheck = true;
    quint32 StatusPeriod = 3;             ///< seconds
    quint32 ProfilerPort = 4040;
    bool NetworkConnections = false;
    bool InteractPassword = false;
};

/// The program's persistent configuration, backed by settings.ini.
/// All member functions and the profiles are for the GUI thread only: the
/// profile dialog edits, reloads and deletes profiles at any time, so other
/// threads get copies of what they need (the relay its server address).
class Settings : public QObject
{
    Q_OBJECT
public:
    explicit Settings(QObject* parent = nullptr);
    ~Settings() override;

    QString Language;
    bool AutoOpenNewSession = false;
    bool CheckUpdate = false;
    bool StayOnTop = false;
    qint32 MaxLinesFlow = 0;
    qint32 MaxSessions = 0;
    /// MiB the window keeps captured statements in; beyond it the oldest are released.
    qint32 MemoryBudget = 0;
    /// A quarter of the machine's memory, at most 2 GiB, in MiB.
    static qint32 defaultMemoryBudget();
    bool AlwaysTunneling = false;
    bool AutoStart = false;
    qint32 passwordKey = 0;
    QString fileName;
    bool fileExisted = false;
    qint32 CurrentProfile = 0;
    QList<Profile*> profiles;

    /// (Re)reads the whole file into the members.
    void load();
    /// Writes the eight keys of [General]; leaves [Profiles] alone.
    void saveGeneral();
    /// Rewrites [Profiles] from `profiles`; leaves [General] alone.
    void saveProfiles();

    /// The main window's layout, kept in a section of its own, [Window]:
    /// opaque values of the toolkit's saveGeometry()/saveState() by name
    /// ("Geometry", a splitter's object name). Empty when never saved.
    QByteArray windowLayout(const QString& name) const;
    /// Writes `values` into [Window] (other keys of the file are left alone).
    void saveWindowLayout(const QMap<QString, QByteArray>& values);

    QString encodeStr(const QString& text) const;
    QString decodeStr(const QString& text) const;

    bool existsFile() const { return fileExisted; }
    void setCurrentProfile(int index) { CurrentProfile = index; }

    /// Assigns `Language` and emits changeLanguage() when it differs.
    void setLanguage(const QString& lang);

    /// The profile at `CurrentProfile`, or nullptr when the index is outside the list.
    Profile* currentProfile() const;

    /// Folder of settings.ini and of the archive: the per-user data location
    /// "$XDG_DATA_HOME/data/Tessam/Quarvel" (~/.local/share when unset).
    static QString dataLocation();

signals:
    void changeLanguage(QString lang);

private:
    void clearProfiles();
};

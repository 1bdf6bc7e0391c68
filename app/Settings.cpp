#include "Settings.h"

#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

Settings::Settings(QObject* parent) : QObject(parent)
{
    passwordKey = 0x3A52E9C4;
    fileName = dataLocation() + QStringLiteral("/settings.ini");
    fileExisted = QFileInfo::exists(fileName);
    load();
}

Settings::~Settings()
{
    clearProfiles();
}

QString Settings::dataLocation()
{
    // The location Qt 4 gave for DataLocation, kept so that existing files are found.
    QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    QString org = QCoreApplication::organizationName();
    QString app = QCoreApplication::applicationName();
    if (org.isEmpty())
        org = QStringLiteral("Tessam");
    if (app.isEmpty())
        app = QStringLiteral("Quarvel");
    return base + QStringLiteral("/data/") + org + QLatin1Char('/') + app;
}

void Settings::clearProfiles()
{
    qDeleteAll(profiles);
    profiles.clear();
}

Profile* Settings::currentProfile() const
{
    if (CurrentProfile < 0 || CurrentProfile >= profiles.size())
        return nullptr;
    return profiles.at(CurrentProfile);
}

void Settings::setLanguage(const QString& lang)
{
    if (lang == Language)
        return;
    Language = lang;
    emit changeLanguage(lang);
}

void Settings::load()
{
    QSettings s(fileName, QSettings::IniFormat);

    // The options live in the file's [General] section, which QSettings
    // addresses as the top level. A file whose options stand in a section
    // written as [%General] (a group literally named "General") is read too.
    const bool escapedGeneral = s.childGroups().contains(QStringLiteral("General"));
    if (escapedGeneral)
        s.beginGroup(QStringLiteral("General"));
    Language = s.value(QStringLiteral("Language"), QStringLiteral("english")).toString();
    CheckUpdate = s.value(QStringLiteral("CheckUpdate"), true).toBool();
    AutoOpenNewSession = s.value(QStringLiteral("AutoOpenNewSession"), false).toBool();
    AutoStart = s.value(QStringLiteral("AutoStart"), true).toBool();
    StayOnTop = s.value(QStringLiteral("StayOnTop"), false).toBool();
    MaxLinesFlow = s.value(QStringLiteral("MaxLinesFlow"), 300).toInt();
    MaxSessions = s.value(QStringLiteral("MaxSessions"), 100).toInt();
    MemoryBudget = qBound(16, s.value(QStringLiteral("MemoryBudget"), defaultMemoryBudget()).toInt(), 1 << 20);
    AlwaysTunneling = s.value(QStringLiteral("AlwaysTunneling"), false).toBool();
    if (escapedGeneral)
        s.endGroup();

    s.beginGroup(QStringLiteral("Profiles"));
    const int count = s.value(QStringLiteral("CountProfiles"), 0).toInt();
    CurrentProfile = s.value(QStringLiteral("CurrentProfile"), 0).toInt();

    clearProfiles();
    for (int i = 0; i < count; ++i) {
        auto* p = new Profile;
        s.beginGroup(QStringLiteral("Profile") + QString::number(i));
        // Absent keys read as empty, 0 or false, not as the record defaults.
        p->Name = s.value(QStringLiteral("Name")).toString();
        p->DbType = s.value(QStringLiteral("DbType")).toInt();
        p->ConnectionMethod = s.value(QStringLiteral("ConnectionMethod")).toInt();
        p->Host = s.value(QStringLiteral("Host")).toString();
        p->Port = s.value(QStringLiteral("Port")).toUInt();
        p->User = s.value(QStringLiteral("User")).toString();
        p->Password = decodeStr(s.value(QStringLiteral("Password")).toString());
        p->Compression = s.value(QStringLiteral("Compression")).toBool();
        p->Socket = s.value(QStringLiteral("Socket")).toString();
        p->StatusCheck = s.value(QStringLiteral("StatusCheck")).toBool();
        p->StatusPeriod = s.value(QStringLiteral("StatusPeriod")).toUInt();
        p->ProfilerPort = s.value(QStringLiteral("ProfilerPort")).toUInt();
        p->NetworkConnections = s.value(QStringLiteral("NetworkConnections")).toBool();
        p->InteractPassword = s.value(QStringLiteral("InteractPassword")).toBool();
        s.endGroup();
        profiles.append(p);
    }
    if (count == 0)
        profiles.append(new Profile);
    s.endGroup();
}

QByteArray Settings::windowLayout(const QString& name) const
{
    QSettings s(fileName, QSettings::IniFormat);
    return s.value(QStringLiteral("Window/") + name).toByteArray();
}

void Settings::saveWindowLayout(const QMap<QString, QByteArray>& values)
{
    QSettings s(fileName, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("Window"));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        s.setValue(it.key(), it.value());
    s.endGroup();
    s.sync();
}

void Settings::saveGeneral()
{
    QSettings s(fileName, QSettings::IniFormat);
    // Top-level keys are what QSettings writes as the [General] section.
    s.remove(QStringLiteral("General"));   // an old [%General] section would shadow them
    s.setValue(QStringLiteral("Language"), Language);
    s.setValue(QStringLiteral("CheckUpdate"), CheckUpdate);
    s.setValue(QStringLiteral("AutoOpenNewSession"), AutoOpenNewSession);
    s.setValue(QStringLiteral("AutoStart"), AutoStart);
    s.setValue(QStringLiteral("StayOnTop"), StayOnTop);
    s.setValue(QStringLiteral("MaxLinesFlow"), MaxLinesFlow);
    s.setValue(QStringLiteral("MaxSessions"), MaxSessions);
    s.setValue(QStringLiteral("MemoryBudget"), MemoryBudget);
    s.setValue(QStringLiteral("AlwaysTunneling"), AlwaysTunneling);
    s.sync();
}

void Settings::saveProfiles()
{
    QSettings s(fileName, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("Profiles"));
    s.remove(QString());   // drops every key and subgroup of [Profiles]
    s.setValue(QStringLiteral("CountProfiles"), profiles.size());
    s.setValue(QStringLiteral("CurrentProfile"), CurrentProfile);
    for (int i = 0; i < profiles.size(); ++i) {
        const Profile* p = profiles.at(i);
        s.beginGroup(QStringLiteral("Profile") + QString::number(i));
        s.setValue(QStringLiteral("Name"), p->Name);
        s.setValue(QStringLiteral("DbType"), p->DbType);
        s.setValue(QStringLiteral("ConnectionMethod"), p->ConnectionMethod);
        s.setValue(QStringLiteral("Host"), p->Host);
        s.setValue(QStringLiteral("Port"), p->Port);
        s.setValue(QStringLiteral("User"), p->User);
        s.setValue(QStringLiteral("Password"), p->InteractPassword ? QString() : encodeStr(p->Password));
        s.setValue(QStringLiteral("Compression"), p->Compression);
        s.setValue(QStringLiteral("Socket"), p->Socket);
        s.setValue(QStringLiteral("StatusCheck"), p->StatusCheck);
        s.setValue(QStringLiteral("StatusPeriod"), p->StatusPeriod);
        s.setValue(QStringLiteral("ProfilerPort"), p->ProfilerPort);
        s.setValue(QStringLiteral("NetworkConnections"), p->NetworkConnections);
        s.setValue(QStringLiteral("InteractPassword"), p->InteractPassword);
        s.endGroup();
    }
    s.endGroup();
    s.sync();
}

QString Settings::encodeStr(const QString& text) const
{
    if (text.isEmpty())
        return QString();
    QByteArray bytes = text.toUtf8();
    const char k = char(passwordKey & 0xFF);
    for (char& c : bytes)
        c ^= k;
    return QString::fromLatin1(bytes.toBase64());
}

QString Settings::decodeStr(const QString& text) const
{
    if (text.isEmpty())
        return QString();
    QByteArray bytes = QByteArray::fromBase64(text.toLatin1());
    const char k = char(passwordKey & 0xFF);
    for (char& c : bytes)
        c ^= k;
    return QString::fromUtf8(bytes);
}

qint32 Settings::defaultMemoryBudget()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const qint64 mib = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize / 4 / (1024 * 1024) : 2048;
    return qint32(qBound<qint64>(16, mib, 2048));
}

// The settings store against real settings.ini files in a private folder.
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

    QString iniPath() const { return Settings::dataLocation() + QStringLiteral("/settings.ini"); }

    /// Writes `lines` as the whole settings.ini.
    void writeIni(const QByteArray& lines)
    {
        QDir().mkpath(Settings::dataLocation());
        QFile f(iniPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        // Start-up names the program before the store is built.
        QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
        QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
        // Never touch the user's own settings, whatever the environment says.
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        QVERIFY(Settings::dataLocation().startsWith(home.path()));
    }

    void init()
    {
        QDir(home.path()).removeRecursively();
        QDir().mkpath(home.path());
    }

    void fileLivesInPerUserDataFolder()
    {
        Settings s;
        QCOMPARE(s.fileName, home.path() + QStringLiteral("/data/Tessam/Quarvel/settings.ini"));
    }

    void firstRunGivesDefaultsAndOneProfile()
    {
        Settings s;
        QVERIFY(!s.existsFile());
        QCOMPARE(s.Language, QStringLiteral("english"));
        QCOMPARE(s.CheckUpdate, true);
        QCOMPARE(s.AutoOpenNewSession, false);
        QCOMPARE(s.AutoStart, true);
        QCOMPARE(s.StayOnTop, false);
        QCOMPARE(s.MaxLinesFlow, 300);
        QCOMPARE(s.MaxSessions, 100);
        QCOMPARE(s.AlwaysTunneling, false);
        QCOMPARE(s.CurrentProfile, 0);
        QCOMPARE(s.profiles.size(), 1);
        const Profile* p = s.profiles.first();
        QCOMPARE(p->Name, QStringLiteral("Unknown"));
        QCOMPARE(p->Host, QStringLiteral("localhost"));
        QCOMPARE(p->Port, 3306u);
        QCOMPARE(p->User, QStringLiteral("root"));
        QCOMPARE(p->Socket, QStringLiteral("/tmp/mysql.sock"));
        QCOMPARE(p->StatusCheck, true);
        QCOMPARE(p->StatusPeriod, 3u);
        QCOMPARE(p->ProfilerPort, 4040u);
        QVERIFY(p->Password.isEmpty());
        QCOMPARE(s.currentProfile(), p);
        // Reading alone creates nothing.
        QVERIFY(!QFile::exists(iniPath()));
    }

    void startUpWritesOnlyGeneral()
    {
        {
            Settings s;
            s.saveGeneral();   // what start-up does right after construction
        }
        QVERIFY(QFile::exists(iniPath()));
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith("[General]\n"));
        QVERIFY(!text.contains("[%General]"));
        QVERIFY(!text.contains("[Profiles]"));
        QSettings raw(iniPath(), QSettings::IniFormat);
        QVERIFY(raw.childGroups().isEmpty());
        QStringList keys = raw.childKeys();
        keys.sort();
        QCOMPARE(keys, QStringList({"AlwaysTunneling", "AutoOpenNewSession", "AutoStart", "CheckUpdate",
                                    "Language", "MaxLinesFlow", "MaxSessions", "StayOnTop"}));
        QCOMPARE(raw.value("Language").toString(), QStringLiteral("english"));
        QCOMPARE(raw.value("MaxLinesFlow").toString(), QStringLiteral("300"));
        QCOMPARE(raw.value("AutoStart").toString(), QStringLiteral("true"));

        Settings again;
        QVERIFY(again.existsFile());
    }

    void saveGeneralWritesMembersAndKeepsProfiles()
    {
        {
            Settings s;
            s.profiles.first()->Name = QStringLiteral("kept");
            s.saveProfiles();
            s.Language = QStringLiteral("german");
            s.CheckUpdate = false;
            s.AutoOpenNewSession = true;
            s.AutoStart = false;
            s.StayOnTop = true;
            s.MaxLinesFlow = 1234;
            s.MaxSessions = 17;
            s.AlwaysTunneling = true;
            s.saveGeneral();
        }
        QSettings raw(iniPath(), QSettings::IniFormat);
        QCOMPARE(raw.value("Language").toString(), QStringLiteral("german"));
        QCOMPARE(raw.value("CheckUpdate").toString(), QStringLiteral("false"));
        QCOMPARE(raw.value("AutoOpenNewSession").toString(), QStringLiteral("true"));
        QCOMPARE(raw.value("AutoStart").toString(), QStringLiteral("false"));
        QCOMPARE(raw.value("StayOnTop").toString(), QStringLiteral("true"));
        QCOMPARE(raw.value("MaxLinesFlow").toInt(), 1234);
        QCOMPARE(raw.value("MaxSessions").toInt(), 17);
        QCOMPARE(raw.value("AlwaysTunneling").toString(), QStringLiteral("true"));
        QCOMPARE(raw.value("Profiles/Profile0/Name").toString(), QStringLiteral("kept"));

        Settings back;
        QCOMPARE(back.Language, QStringLiteral("german"));
        QCOMPARE(back.MaxLinesFlow, 1234);
        QCOMPARE(back.MaxSessions, 17);
        QCOMPARE(back.StayOnTop, true);
        QCOMPARE(back.AlwaysTunneling, true);
        QCOMPARE(back.AutoStart, false);
        QCOMPARE(back.profiles.first()->Name, QStringLiteral("kept"));
    }

    void escapedGeneralSectionIsReadAndReplaced()
    {
        // A file whose options were written under a group named "General".
        writeIni("[%General]\nLanguage=german\nMaxSessions=42\n");
        {
            Settings s;
            QCOMPARE(s.Language, QStringLiteral("german"));
            QCOMPARE(s.MaxSessions, 42);
            s.saveGeneral();
        }
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("[General]"));
        QVERIFY(!text.contains("[%General]"));
        Settings back;
        QCOMPARE(back.Language, QStringLiteral("german"));
        QCOMPARE(back.MaxSessions, 42);
    }

    void saveProfilesKeepsGeneral()
    {
        {
            Settings s;
            s.MaxSessions = 55;
            s.saveGeneral();
            s.MaxSessions = 99;   // not saved
            s.saveProfiles();
        }
        Settings back;
        QCOMPARE(back.MaxSessions, 55);
    }

    void explicitZeroCountGivesOneDefaultProfile()
    {
        writeIni("[Profiles]\nCountProfiles=0\nCurrentProfile=0\nProfile0\\Name=stale\nProfile0\\Host=elsewhere\n");
        Settings s;
        QVERIFY(s.existsFile());
        QCOMPARE(s.profiles.size(), 1);
        QCOMPARE(s.profiles.first()->Name, QStringLiteral("Unknown"));
        QCOMPARE(s.profiles.first()->Host, QStringLiteral("localhost"));
    }

    void negativeCountGivesNoProfile()
    {
        writeIni("[Profiles]\nCountProfiles=-1\n");
        Settings s;
        QVERIFY(s.profiles.isEmpty());
        QVERIFY(s.currentProfile() == nullptr);
    }

    void absentProfileKeysReadEmpty()
    {
        writeIni("[Profiles]\nCountProfiles=2\nCurrentProfile=1\n"
                 "Profile0\\Name=only name\n"
                 "Profile1\\Name=bad port\nProfile1\\Port=abc\nProfile1\\Host=db1\n");
        Settings s;
        QCOMPARE(s.profiles.size(), 2);
        QCOMPARE(s.CurrentProfile, 1);
        const Profile* p = s.profiles.at(0);
        QCOMPARE(p->Name, QStringLiteral("only name"));
        QCOMPARE(p->Host, QString());
        QCOMPARE(p->Port, 0u);
        QCOMPARE(p->User, QString());
        QCOMPARE(p->Socket, QString());
        QCOMPARE(p->StatusCheck, false);
        QCOMPARE(p->StatusPeriod, 0u);
        QCOMPARE(p->ProfilerPort, 0u);
        QCOMPARE(p->DbType, 0);
        QCOMPARE(p->InteractPassword, false);
        QVERIFY(p->Password.isEmpty());
        QCOMPARE(s.profiles.at(1)->Port, 0u);
        QCOMPARE(s.profiles.at(1)->Host, QStringLiteral("db1"));
        QCOMPARE(s.currentProfile(), s.profiles.at(1));
    }

    void currentProfileOutsideListIsNotClamped()
    {
        writeIni("[Profiles]\nCountProfiles=1\nCurrentProfile=5\nProfile0\\Name=a\n");
        Settings s;
        QCOMPARE(s.CurrentProfile, 5);
        QVERIFY(s.currentProfile() == nullptr);
    }

    void passwordRoundTrip_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("ascii") << QStringLiteral("s3cret!");
        QTest::newRow("cyrillic") << QStringLiteral("пароль");
        QTest::newRow("mixed") << QStringLiteral("Grüße 密码 🙂 \"quoted\" = ;");
        QTest::newRow("base64 alphabet") << QStringLiteral("+/=AZaz09");
    }

    void passwordRoundTrip()
    {
        QFETCH(QString, password);
        {
            Settings s;
            const QString encoded = s.encodeStr(password);
            QVERIFY(!encoded.isEmpty());
            QVERIFY(encoded != password);
            QCOMPARE(s.decodeStr(encoded), password);
            s.profiles.first()->Password = password;
            s.saveProfiles();
        }
        QSettings raw(iniPath(), QSettings::IniFormat);
        const QString stored = raw.value("Profiles/Profile0/Password").toString();
        QVERIFY(!stored.isEmpty());
        QVERIFY(!stored.contains(password));
        Settings back;
        QCOMPARE(back.profiles.first()->Password, password);
    }

    void passwordEncodingIsXorOfLowKeyByteThenBase64()
    {
        Settings s;
        // 'a' (0x61) XOR 0xC4 = 0xA5, Base64 "pQ=="; "ab" -> A5 A6 -> "paY=".
        QCOMPARE(s.encodeStr(QStringLiteral("a")), QStringLiteral("pQ=="));
        QCOMPARE(s.encodeStr(QStringLiteral("ab")), QStringLiteral("paY="));
        QCOMPARE(s.decodeStr(QStringLiteral("paY=")), QStringLiteral("ab"));
        QCOMPARE(s.encodeStr(QString()), QString());
        QCOMPARE(s.decodeStr(QString()), QString());
    }

    void interactPasswordStoresNothing()
    {
        {
            Settings s;
            Profile* p = s.profiles.first();
            p->Password = QStringLiteral("in memory only");
            p->InteractPassword = true;
            auto* second = new Profile;
            second->Name = QStringLiteral("second");
            second->Password = QStringLiteral("kept");
            s.profiles.append(second);
            s.saveProfiles();
            QCOMPARE(p->Password, QStringLiteral("in memory only"));
        }
        QSettings raw(iniPath(), QSettings::IniFormat);
        QVERIFY(raw.contains("Profiles/Profile0/Password"));
        QCOMPARE(raw.value("Profiles/Profile0/Password").toString(), QString());
        QCOMPARE(raw.value("Profiles/Profile0/InteractPassword").toString(), QStringLiteral("true"));
        Settings back;
        QCOMPARE(back.profiles.size(), 2);
        QCOMPARE(back.profiles.at(0)->Password, QString());
        QCOMPARE(back.profiles.at(0)->InteractPassword, true);
        QCOMPARE(back.profiles.at(1)->Password, QStringLiteral("kept"));
    }

    void deletingProfileLeavesNoStaleSubgroup()
    {
        {
            Settings s;
            s.profiles.first()->Name = QStringLiteral("first");
            for (const char* name : {"second", "third"}) {
                auto* p = new Profile;
                p->Name = QString::fromLatin1(name);
                s.profiles.append(p);
            }
            s.setCurrentProfile(2);
            s.saveProfiles();
        }
        {
            Settings s;
            QCOMPARE(s.profiles.size(), 3);
            delete s.profiles.takeAt(1);
            s.setCurrentProfile(1);
            s.saveProfiles();
        }
        QSettings raw(iniPath(), QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Profiles"));
        QStringList groups = raw.childGroups();
        groups.sort();
        QCOMPARE(groups, QStringList({"Profile0", "Profile1"}));
        QCOMPARE(raw.value("CountProfiles").toInt(), 2);
        QCOMPARE(raw.value("CurrentProfile").toInt(), 1);
        QCOMPARE(raw.value("Profile1/Name").toString(), QStringLiteral("third"));
        raw.endGroup();
        // Only the fourteen keys of a profile are written.
        raw.beginGroup(QStringLiteral("Profiles/Profile0"));
        QCOMPARE(raw.childKeys().size(), 14);
    }

    void fullProfileRoundTrip()
    {
        {
            Settings s;
            Profile* p = s.profiles.first();
            p->Name = QStringLiteral("Prod [eu]");
            p->DbType = 2;
            p->ConnectionMethod = 1;
            p->Host = QStringLiteral("db.example.org");
            p->Port = 3307;
            p->User = QStringLiteral("märta");
            p->Password = QStringLiteral("pw");
            p->Compression = true;
            p->Socket = QStringLiteral("/run/mysqld/mysqld.sock");
            p->StatusCheck = false;
            p->StatusPeriod = 10;
            p->ProfilerPort = 4444;
            p->NetworkConnections = true;
            s.saveProfiles();
        }
        Settings back;
        const Profile* p = back.profiles.first();
        QCOMPARE(p->Name, QStringLiteral("Prod [eu]"));
        QCOMPARE(p->DbType, 2);
        QCOMPARE(p->ConnectionMethod, 1);
        QCOMPARE(p->Host, QStringLiteral("db.example.org"));
        QCOMPARE(p->Port, 3307u);
        QCOMPARE(p->User, QStringLiteral("märta"));
        QCOMPARE(p->Password, QStringLiteral("pw"));
        QCOMPARE(p->Compression, true);
        QCOMPARE(p->Socket, QStringLiteral("/run/mysqld/mysqld.sock"));
        QCOMPARE(p->StatusCheck, false);
        QCOMPARE(p->StatusPeriod, 10u);
        QCOMPARE(p->ProfilerPort, 4444u);
        QCOMPARE(p->NetworkConnections, true);
    }

    void loadThrowsAwayUnsavedEdits()
    {
        Settings s;
        s.profiles.first()->Host = QStringLiteral("edited");
        s.profiles.append(new Profile);
        s.load();
        QCOMPARE(s.profiles.size(), 1);
        QCOMPARE(s.profiles.first()->Host, QStringLiteral("localhost"));
    }

    void setLanguageEmitsOnlyOnChange()
    {
        Settings s;
        QSignalSpy spy(&s, &Settings::changeLanguage);
        s.setLanguage(QStringLiteral("english"));
        QCOMPARE(spy.count(), 0);
        s.setLanguage(QStringLiteral("german"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("german"));
        QCOMPARE(s.Language, QStringLiteral("german"));
        s.setLanguage(QStringLiteral("german"));
        QCOMPARE(spy.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"

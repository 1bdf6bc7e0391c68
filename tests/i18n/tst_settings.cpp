// The settings store against real settings.ini files in a private folder.
#include "I18nTest.h"
#include "Settings.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

    QString iniPath() const { return Settings::dataLocation() + QStringLiteral("/settings.ini"); }

    /// Every key of the file as "group/key=value", sorted.
    QStringList storedPairs() const
    {
        QSettings raw(iniPath(), QSettings::IniFormat);
        QStringList pairs;
        for (const QString& key : raw.allKeys())
            pairs << key + '=' + raw.value(key).toString();
        pairs.sort();
        return pairs;
    }

private slots:
    void initTestCase()
    {
        // Start-up names the program; the user's own settings are never touched.
        QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
        QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
        QVERIFY(home.isValid() && qputenv("XDG_DATA_HOME", home.path().toLocal8Bit()));
    }

    void init() { QDir(home.path() + QStringLiteral("/data")).removeRecursively(); }

    void firstStartWritesDefaultsUnderGeneral()
    {
        {
            Settings s;
            QCOMPARE(s.fileName, home.path() + QStringLiteral("/data/Tessam/Quarvel/settings.ini"));
            QVERIFY(!s.existsFile() && s.profiles.size() == 1 && s.currentProfile() == s.profiles.first());
            QVERIFY(!QFile::exists(iniPath()));   // reading alone creates nothing
            s.saveGeneral();                      // what start-up does next
        }
        QVERIFY(readFile(iniPath()).startsWith("[General]\n"));
        QCOMPARE(storedPairs(), QStringList({"AlwaysTunneling=false", "AutoOpenNewSession=false", "AutoStart=true", "CheckUpdate=true",
                                             "Language=english", "MaxLinesFlow=300", "MaxSessions=100",
                                             QStringLiteral("MemoryBudget=%1").arg(Settings::defaultMemoryBudget()), "StayOnTop=false"}));
        // a quarter of the machine's memory, at most 2 GiB
        QVERIFY(Settings::defaultMemoryBudget() >= 16 && Settings::defaultMemoryBudget() <= 2048);
        QVERIFY(Settings().existsFile());
    }

    void fileRoundTripWithoutStaleProfiles()
    {
        const QStringList general = {"AlwaysTunneling=true", "AutoOpenNewSession=true", "AutoStart=false", "CheckUpdate=false",
                                     "Language=german", "MaxLinesFlow=1234", "MaxSessions=17", "StayOnTop=true"};
        // Password "ab": XOR with the low key byte 0xC4, then Base64, as files of earlier versions have it.
        const QStringList profile0 = {"Compression=true", "ConnectionMethod=1", "DbType=2", "Host=db.example.org", "InteractPassword=false",
                                      "Name=Prod [eu]", "NetworkConnections=true", "Password=paY=", "Port=3307", "ProfilerPort=4444",
                                      "Socket=/run/mysqld/mysqld.sock", "StatusCheck=false", "StatusPeriod=10", "User=marta"};
        QVERIFY(writeFile(iniPath(), ("[General]\n" + general.join('\n') + "\n[Profiles]\nCountProfiles=3\nCurrentProfile=2\n"
                                      "Profile1\\Name=second\nProfile2\\Name=third\nProfile0\\" + profile0.join("\nProfile0\\")).toUtf8()));
        {
            Settings s;
            QCOMPARE(s.profiles.first()->Password + '|' + s.currentProfile()->Name, QStringLiteral("ab|third"));
            s.MaxSessions = 99;   // not saved with the profiles
            delete s.profiles.takeAt(1);
            s.setCurrentProfile(1);
            s.saveProfiles();
        }
        // the second profile written anew, the third one's stale keys gone
        const QStringList blank = {"Compression=false", "ConnectionMethod=0", "DbType=0", "Host=", "InteractPassword=false", "Name=third",
                                   "NetworkConnections=false", "Password=", "Port=0", "ProfilerPort=0", "Socket=", "StatusCheck=false",
                                   "StatusPeriod=0", "User="};
        QStringList expected = general + QStringList{"Profiles/CountProfiles=2", "Profiles/CurrentProfile=1"};
        for (const QString& pair : profile0)
            expected << QStringLiteral("Profiles/Profile0/") + pair;
        for (const QString& pair : blank)
            expected << QStringLiteral("Profiles/Profile1/") + pair;
        expected.sort();
        QCOMPARE(storedPairs(), expected);
    }

    void escapedGeneralAndEmptyProfileList()
    {
        QVERIFY(writeFile(iniPath(), "[%General]\nLanguage=german\nMaxSessions=42\n"
                                     "[Profiles]\nCountProfiles=0\nCurrentProfile=5\nProfile0\\Host=elsewhere\n"));
        Settings s;
        QCOMPARE(s.Language + s.profiles.first()->Host, QStringLiteral("germanlocalhost"));
        QVERIFY(s.profiles.size() == 1 && s.currentProfile() == nullptr); // none stored: one default; outside the list: not clamped
        s.saveGeneral();
        QVERIFY(readFile(iniPath()).contains("[General]") && !readFile(iniPath()).contains("[%General]"));
        QCOMPARE(Settings().MaxSessions, 42);
    }

    void passwordsSavedEncodedOrNotAtAll()
    {
        const QString password = QStringLiteral("Grüße 密码 🙂 \"quoted\" = ;");
        {
            Settings s;
            s.profiles.first()->Password = password;
            s.profiles.append(new Profile);
            s.profiles.last()->Password = QStringLiteral("typed at each start");
            s.profiles.last()->InteractPassword = true;
            s.saveProfiles();
            QCOMPARE(s.profiles.last()->Password, QStringLiteral("typed at each start")); // kept while the program runs
        }
        const QString stored = QSettings(iniPath(), QSettings::IniFormat).value("Profiles/Profile0/Password").toString();
        QVERIFY(!stored.isEmpty() && !stored.contains(password));
        QVERIFY(storedPairs().contains("Profiles/Profile1/Password="));
        Settings back;
        QVERIFY(back.profiles.at(0)->Password == password && back.profiles.at(1)->InteractPassword);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"

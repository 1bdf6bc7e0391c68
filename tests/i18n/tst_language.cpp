// The language engine against language files written into a private data
// folder, and the shipped language files against the keys the program uses.
#include "LanguageKeys.h"
#include "Settings.h"
#include "languageEngine.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

namespace {
/// A minimal language file: `body` holds the groups.
QByteArray lng(const QByteArray& displayName, const QByteArray& compatible, const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<general>\n"
           "  <version>\n    <language>" + displayName + "</language>\n"
           "    <compatible>" + compatible + "</compatible>\n  </version>\n"
           + body + "</general>\n";
}
}

class TestLanguage : public QObject
{
    Q_OBJECT

    QByteArray shippedDataDir;
    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> data;

    QString langDir() const { return data->path() + QStringLiteral("/languages/"); }

    void writeFile(const QString& name, const QByteArray& content)
    {
        QFile f(langDir() + name);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

    static QStringList baseNames(const languageEngine& le)
    {
        QStringList out;
        for (const QStringList& entry : le.listLanguages())
            out << entry.at(1);
        return out;
    }

private slots:
    void initTestCase()
    {
        shippedDataDir = qgetenv("QUARVEL_DATA_DIR");
        QVERIFY(home.isValid());
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        QCoreApplication::setOrganizationName(QStringLiteral("Tessam"));
        QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
    }

    void init()
    {
        data.reset(new QTemporaryDir);
        QVERIFY(data->isValid());
        QVERIFY(QDir().mkpath(langDir()));
        qputenv("QUARVEL_DATA_DIR", data->path().toLocal8Bit());
    }

    void languagesDirFollowsDataDir()
    {
        Settings s;
        languageEngine le(&s);
        QCOMPARE(le.languagesDir, langDir());
        QCOMPARE(le.currentLanguage, s.Language);
        QVERIFY(le.listLanguages().isEmpty());
        QVERIFY(!le.loadLanguage(QStringLiteral("english")));
    }

    void scanListsCompatibleFilesCaseInsensitively()
    {
        writeFile("german.lng", lng("Deutsch", "4.1", ""));
        writeFile("English.lng", lng("English", "4.1", ""));
        writeFile("aaa_old.lng", lng("Old", "4.0", ""));
        writeFile("zz_newer.lng", lng("Newer", "4.1.1", ""));
        writeFile("noversion.lng", "<?xml version=\"1.0\"?>\n<general><toolbar><a>b</a></toolbar></general>\n");
        {
            static const char junk[] = "\x00\x01\x02 not xml";
            writeFile("binary.lng", QByteArray(junk, sizeof junk - 1));
        }
        writeFile("Late.lng", "<general><version><compatible>4.1</compatible>"
                              "<language>Late</language></version></general>");
        writeFile("notes.txt", lng("Text", "4.1", ""));
        Settings s;
        languageEngine le(&s);
        const QList<QStringList> langs = le.listLanguages();
        QCOMPARE(baseNames(le), QStringList({"English", "german", "Late"}));
        QCOMPARE(langs.at(0).at(0), QStringLiteral("English.lng"));
        QCOMPARE(langs.at(0).value(2), QStringLiteral("English"));
        QCOMPARE(langs.at(1).value(2), QStringLiteral("Deutsch"));
        // A file naming its language after `compatible` has no display name.
        QCOMPARE(langs.at(2).value(2), QString());
    }

    void compatibilityTest_data()
    {
        QTest::addColumn<QByteArray>("compatible");
        QTest::addColumn<bool>("listed");
        QTest::newRow("4.1") << QByteArray("4.1") << true;
        QTest::newRow("4.1 with spaces") << QByteArray(" 4.1\n") << true;
        QTest::newRow("4.0") << QByteArray("4.0") << false;
        QTest::newRow("4.1.1") << QByteArray("4.1.1") << false;
        QTest::newRow("4.10") << QByteArray("4.10") << false;
        QTest::newRow("4") << QByteArray("4") << false;
        QTest::newRow("empty") << QByteArray("") << false;
    }

    void compatibilityTest()
    {
        QFETCH(QByteArray, compatible);
        QFETCH(bool, listed);
        const QByteArray doc = lng("X", compatible, "<toolbar><start_btn>Go</start_btn></toolbar>\n");
        writeFile("x.lng", doc);
        Settings s;
        languageEngine le(&s);
        QCOMPARE(le.listLanguages().size(), listed ? 1 : 0);
        QCOMPARE(le.loadLanguage(QStringLiteral("x")), listed);

        QXmlStreamReader reader(doc);
        QCOMPARE(le.checkVersion(&reader), listed);
    }

    void unknownLanguageFallsBackToFirstAndCorrectsSettings()
    {
        writeFile("english.lng", lng("English", "4.1", "<toolbar><start_btn>Start</start_btn></toolbar>\n"));
        writeFile("German.lng", lng("Deutsch", "4.1", "<toolbar><start_btn>Los</start_btn></toolbar>\n"));
        Settings s;
        s.Language = QStringLiteral("klingon");
        languageEngine le(&s);
        QCOMPARE(le.currentLanguage, QStringLiteral("klingon"));
        QSignalSpy spy(&s, &Settings::changeLanguage);
        QVERIFY(le.loadLanguage(le.currentLanguage));
        QCOMPARE(le.currentLanguage, QStringLiteral("english"));
        QCOMPARE(le.currentIndex, 0);
        QCOMPARE(s.Language, QStringLiteral("english"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("english"));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));

        // An installed language is taken as named, settings untouched.
        QVERIFY(le.loadLanguage(QStringLiteral("German")));
        QCOMPARE(le.currentIndex, 1);
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Los"));
        QCOMPARE(s.Language, QStringLiteral("German"));
    }

    void unreadableFileChangesNothing()
    {
        writeFile("english.lng", lng("English", "4.1", "<toolbar><start_btn>Start</start_btn></toolbar>\n"));
        writeFile("german.lng", lng("Deutsch", "4.1", "<toolbar><start_btn>Los</start_btn></toolbar>\n"));
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        QVERIFY(QFile::remove(langDir() + QStringLiteral("german.lng")));   // gone after the scan
        QSignalSpy spy(&s, &Settings::changeLanguage);
        QVERIFY(!le.loadLanguage(QStringLiteral("german")));
        QCOMPARE(le.currentLanguage, QStringLiteral("english"));
        QCOMPARE(le.currentIndex, 0);
        QCOMPARE(s.Language, QStringLiteral("english"));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
    }

    void groupsMergeIntoSessionTable()
    {
        writeFile("english.lng", lng("English", "4.1",
            "<session_view><a>from session</a><shared>first</shared></session_view>\n"
            "<twin_view><b>from twin</b><shared>second</shared></twin_view>\n"
            "<data_view><c>from data</c></data_view>\n"
            "<toolbar><start_btn>Start</start_btn><dup>one</dup><dup>two</dup></toolbar>\n"
            "<flow_view><x>flow</x></flow_view>\n"
            "<toolbar><stop_btn>Stop</stop_btn><start_btn>Begin</start_btn></toolbar>\n"
            "<unknown_view><about_btn>ignored</about_btn></unknown_view>\n"));
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        QCOMPARE(le.session(QStringLiteral("a")), QStringLiteral("from session"));
        QCOMPARE(le.session(QStringLiteral("b")), QStringLiteral("from twin"));
        QCOMPARE(le.session(QStringLiteral("c")), QStringLiteral("from data"));
        QCOMPARE(le.session(QStringLiteral("shared")), QStringLiteral("second"));
        QCOMPARE(le.text(QStringLiteral("twin_view"), QStringLiteral("a")), QStringLiteral("from session"));
        // Groups stay apart otherwise.
        QCOMPARE(le.flow(QStringLiteral("b")), QStringLiteral("no_translate"));
        QCOMPARE(le.session(QStringLiteral("x")), QStringLiteral("no_translate"));
        // A group that comes twice adds to its table; later entries win.
        QCOMPARE(le.toolbar(QStringLiteral("stop_btn")), QStringLiteral("Stop"));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Begin"));
        QCOMPARE(le.toolbar(QStringLiteral("dup")), QStringLiteral("two"));
        QCOMPARE(le.toolbar(QStringLiteral("about_btn")), QStringLiteral("no_translate"));
    }

    void laterSessionViewWins()
    {
        writeFile("english.lng", lng("English", "4.1",
            "<twin_view><shared>twin</shared></twin_view>\n"
            "<session_view><shared>session</shared></session_view>\n"));
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        QCOMPARE(le.session(QStringLiteral("shared")), QStringLiteral("session"));
    }

    void everyGroupFillsItsOwnLookup()
    {
        const QStringList groups = {"toolbar", "settings_view", "about_view", "statistics_view",
                                    "sessions_view", "archive_view", "flow_view", "session_view",
                                    "update_view", "sql_view", "errors", "connections_view",
                                    "compare_view", "export_view"};
        QByteArray body;
        for (const QString& g : groups)
            body += "<" + g.toLatin1() + "><k>" + g.toLatin1() + "</k></" + g.toLatin1() + ">\n";
        writeFile("english.lng", lng("English", "4.1", body));
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        const QString k = QStringLiteral("k");
        const QStringList got = {le.toolbar(k), le.settings(k), le.about(k), le.statistics(k),
                                 le.sessions(k), le.archive(k), le.flow(k), le.session(k),
                                 le.update(k), le.sql(k), le.errors(k), le.connections(k),
                                 le.compare(k), le.exports(k)};
        QCOMPARE(got, groups);
    }

    void malformedXmlKeepsWhatWasRead()
    {
        writeFile("english.lng",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<general>\n"
                  "<version><language>English</language><compatible>4.1</compatible></version>\n"
                  "<toolbar><start_btn>Start</start_btn><stop_btn>Stop</stop_btn></toolbar>\n"
                  "<flow_view><copy_btn>Copy</copy_btn><broken>text</oops></flow_view>\n"
                  "<errors><error_str>Error</error_str></errors>\n"
                  "</general>\n");
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
        QCOMPARE(le.toolbar(QStringLiteral("stop_btn")), QStringLiteral("Stop"));
        QCOMPARE(le.flow(QStringLiteral("copy_btn")), QStringLiteral("Copy"));
        QCOMPARE(le.flow(QStringLiteral("broken")), QStringLiteral("no_translate"));
        QCOMPARE(le.errors(QStringLiteral("error_str")), QStringLiteral("no_translate"));
    }

    void truncatedFileKeepsWhatWasRead()
    {
        writeFile("english.lng",
                  "<general><version><language>English</language><compatible>4.1</compatible></version>"
                  "<toolbar><start_btn>Start</start_btn><stop_btn>St");
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
        QCOMPARE(le.toolbar(QStringLiteral("stop_btn")), QStringLiteral("no_translate"));
    }

    void missingKeysAndBuiltInTexts()
    {
        writeFile("english.lng", lng("English", "4.1", "<toolbar><start_btn>Start</start_btn></toolbar>\n"));
        Settings s;
        languageEngine le(&s);
        // Before the first load only the two built-in error texts exist.
        QCOMPARE(le.errors(QStringLiteral("error_str")), QStringLiteral("Error"));
        QCOMPARE(le.errors(QStringLiteral("lang_error")),
                 QStringLiteral("The language file is not compatible with this version of the program"));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("no_translate"));
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
        QCOMPARE(le.toolbar(QStringLiteral("nope")), QStringLiteral("no_translate"));
        QCOMPARE(le.errors(QStringLiteral("error_str")), QStringLiteral("no_translate"));
        QCOMPARE(le.text(QStringLiteral("no_such_group"), QStringLiteral("start_btn")),
                 QStringLiteral("no_translate"));
    }

    void wrongRootLoadsNothing_data()
    {
        QTest::addColumn<QByteArray>("doc");
        QTest::newRow("other root") << QByteArray(
            "<?xml version=\"1.0\"?>\n<language><version><language>E</language><compatible>4.1</compatible>"
            "</version><toolbar><start_btn>Start</start_btn></toolbar></language>\n");
        QTest::newRow("comment before root") << QByteArray(
            "<?xml version=\"1.0\"?>\n<!-- note -->\n<general><version><language>E</language>"
            "<compatible>4.1</compatible></version><toolbar><start_btn>Start</start_btn></toolbar></general>\n");
    }

    void wrongRootLoadsNothing()
    {
        QFETCH(QByteArray, doc);
        writeFile("english.lng", doc);
        Settings s;
        languageEngine le(&s);
        QCOMPARE(le.listLanguages().size(), 1);
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("no_translate"));
        QCOMPARE(le.errors(QStringLiteral("error_str")), QStringLiteral("no_translate"));
    }

    void runTimeSwitch()
    {
        writeFile("english.lng", lng("English", "4.1", "<toolbar><start_btn>Start</start_btn></toolbar>\n"));
        writeFile("german.lng", lng("Deutsch", "4.1", "<toolbar><start_btn>Los</start_btn></toolbar>\n"));
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(le.currentLanguage));
        connect(&s, &Settings::changeLanguage, &le, &languageEngine::changeLanguage);
        QSignalSpy changed(&le, &languageEngine::languageChange);
        QSignalSpy failed(&le, &languageEngine::errorLang);

        s.setLanguage(QStringLiteral("german"));   // what the settings dialog does
        QCOMPARE(changed.count(), 1);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(le.currentLanguage, QStringLiteral("german"));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Los"));

        s.setLanguage(QStringLiteral("english"));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
    }

    void failedSwitchReturnsToPreviousLanguage()
    {
        writeFile("english.lng", lng("English", "4.1", "<toolbar><start_btn>Start</start_btn></toolbar>\n"));
        writeFile("german.lng", lng("Deutsch", "4.1", "<toolbar><start_btn>Los</start_btn></toolbar>\n"));
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(le.currentLanguage));
        connect(&s, &Settings::changeLanguage, &le, &languageEngine::changeLanguage);
        QVERIFY(QFile::remove(langDir() + QStringLiteral("german.lng")));
        QSignalSpy changed(&le, &languageEngine::languageChange);
        QSignalSpy failed(&le, &languageEngine::errorLang);

        s.setLanguage(QStringLiteral("german"));
        QCOMPARE(s.Language, QStringLiteral("english"));
        QCOMPARE(le.currentLanguage, QStringLiteral("english"));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
        QCOMPARE(failed.count(), 0);
        QCOMPARE(changed.count(), 1);   // the previous language was reloaded
    }

    void failedReloadOfCurrentLanguageReportsError()
    {
        writeFile("english.lng", lng("English", "4.1", "<toolbar><start_btn>Start</start_btn></toolbar>\n"));
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(le.currentLanguage));
        QVERIFY(QFile::remove(langDir() + QStringLiteral("english.lng")));
        QSignalSpy changed(&le, &languageEngine::languageChange);
        QSignalSpy failed(&le, &languageEngine::errorLang);
        le.changeLanguage(QStringLiteral("english"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
    }

    void switchToUnknownLanguageFallsBack()
    {
        writeFile("english.lng", lng("English", "4.1", "<toolbar><start_btn>Start</start_btn></toolbar>\n"));
        writeFile("german.lng", lng("Deutsch", "4.1", "<toolbar><start_btn>Los</start_btn></toolbar>\n"));
        Settings s;
        s.Language = QStringLiteral("german");
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(le.currentLanguage));
        connect(&s, &Settings::changeLanguage, &le, &languageEngine::changeLanguage);
        QSignalSpy changed(&le, &languageEngine::languageChange);
        s.setLanguage(QStringLiteral("klingon"));
        QCOMPARE(s.Language, QStringLiteral("english"));
        QCOMPARE(le.currentLanguage, QStringLiteral("english"));
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
        QVERIFY(changed.count() >= 1);
    }

    void loadLanguageIsInvokable()
    {
        writeFile("english.lng", lng("English", "4.1", "<toolbar><start_btn>Start</start_btn></toolbar>\n"));
        Settings s;
        languageEngine le(&s);
        bool ok = false;
        QVERIFY(QMetaObject::invokeMethod(&le, "loadLanguage", Q_RETURN_ARG(bool, ok),
                                          Q_ARG(QString, QStringLiteral("english"))));
        QVERIFY(ok);
        QCOMPARE(le.toolbar(QStringLiteral("start_btn")), QStringLiteral("Start"));
    }

    void keyTableNamesGroupsTheEngineReads()
    {
        const QList<LanguageGroupKeys>& groups = languageKeys();
        QCOMPARE(groups.size(), 14);
        QByteArray body;
        for (const LanguageGroupKeys& g : groups) {
            QVERIFY2(!g.keys.isEmpty(), qPrintable(g.group));
            QStringList copy = g.keys;
            QCOMPARE(copy.removeDuplicates(), 0);
            body += "<" + g.group.toLatin1() + "><probe>" + g.group.toLatin1() + "</probe></"
                    + g.group.toLatin1() + ">\n";
        }
        writeFile("english.lng", lng("English", "4.1", body));
        Settings s;
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        for (const LanguageGroupKeys& g : groups)
            QCOMPARE(le.text(g.group, QStringLiteral("probe")), g.group);
    }

    void shippedLanguagesHaveEveryKey()
    {
        QVERIFY2(!shippedDataDir.isEmpty(), "QUARVEL_DATA_DIR must name the staged data folder");
        qputenv("QUARVEL_DATA_DIR", shippedDataDir);
        Settings s;
        languageEngine le(&s);
        const QStringList names = baseNames(le);
        QVERIFY2(names.contains(QStringLiteral("english")), qPrintable(names.join(',')));
        QVERIFY2(names.contains(QStringLiteral("german")), qPrintable(names.join(',')));
        QCOMPARE(names.first(), QStringLiteral("english"));
        for (const QStringList& entry : le.listLanguages())
            QVERIFY2(!entry.value(2).isEmpty(), qPrintable(entry.at(0)));

        QMap<QString, QMap<QString, QString>> textsByLanguage;
        for (const QString& name : names) {
            QVERIFY(le.loadLanguage(name));
            QCOMPARE(le.currentLanguage, name);
            for (const LanguageGroupKeys& g : languageKeys()) {
                for (const QString& key : g.keys) {
                    const QString text = le.text(g.group, key);
                    QVERIFY2(text != languageEngine::missingText() && !text.trimmed().isEmpty(),
                             qPrintable(name + ": " + g.group + "/" + key));
                    textsByLanguage[name].insert(g.group + '/' + key, text);
                }
            }
        }
        // The German file is a translation, not a copy of the English one.
        const auto en = textsByLanguage.value(QStringLiteral("english"));
        const auto de = textsByLanguage.value(QStringLiteral("german"));
        int differing = 0;
        for (auto it = en.constBegin(); it != en.constEnd(); ++it)
            differing += de.value(it.key()) != it.value();
        QVERIFY2(differing * 10 >= en.size() * 8,
                 qPrintable(QStringLiteral("%1 of %2 texts differ").arg(differing).arg(en.size())));
    }

    void shippedFilesDefineNoKeyOutsideTheTable()
    {
        // A key in a file that the program never asks for is a misspelling.
        QSet<QString> known;
        for (const LanguageGroupKeys& g : languageKeys())
            for (const QString& key : g.keys)
                known.insert(g.group + '/' + key);
        const QDir dir(QString::fromLocal8Bit(shippedDataDir) + QStringLiteral("/languages"));
        const QStringList files = dir.entryList({QStringLiteral("*.lng")}, QDir::Files);
        QVERIFY(!files.isEmpty());
        for (const QString& file : files) {
            QFile f(dir.filePath(file));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QXmlStreamReader r(&f);
            QVERIFY(r.readNextStartElement());
            while (r.readNextStartElement()) {
                const QString group = r.name().toString();
                if (group == QLatin1String("version")) {
                    r.skipCurrentElement();
                    continue;
                }
                // The twin and data viewer texts live in the session table.
                const QString table = (group == QLatin1String("twin_view") || group == QLatin1String("data_view"))
                    ? QStringLiteral("session_view") : group;
                while (r.readNextStartElement()) {
                    const QString key = table + '/' + r.name().toString();
                    QVERIFY2(known.contains(key), qPrintable(file + ": " + group + "/" + r.name().toString()));
                    r.skipCurrentElement();
                }
            }
            QVERIFY2(!r.hasError(), qPrintable(file + ": " + r.errorString()));
        }
    }
};

QTEST_GUILESS_MAIN(TestLanguage)
#include "tst_language.moc"

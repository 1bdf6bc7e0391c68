// The language and theme engines against files written into a private data
// folder, and the shipped language and theme files against the texts and
// colours the program looks up.
#include "BuildInfo.h"
#include "I18nTest.h"
#include "LanguageKeys.h"
#include "Settings.h"
#include "StyleEngine.h"
#include "languageEngine.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {
const QByteArray compat = QUARVEL_VERSION_COMPAT;   // the program's major.minor version
const QByteArray version = "<version><language>Lang</language><compatible>" + compat + "</compatible></version>";

/// A language file with `body` for its groups.
QByteArray lng(const QByteArray& body, const QByteArray& versionElement = version)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<general>" + versionElement + body + "</general>\n";
}
QByteArray compatible(const QByteArray& v) { return "<version><compatible>" + v + "</compatible></version>"; }
QByteArray startButton(const QByteArray& text) { return lng("<toolbar><start_btn>" + text + "</start_btn></toolbar>"); }
} // namespace

class TestEngines : public QObject
{
    Q_OBJECT

    QByteArray shippedDataDir = qgetenv("QUARVEL_DATA_DIR");
    QScopedPointer<QTemporaryDir> data;

    QString languageFile(const QString& name) const { return data->path() + QStringLiteral("/languages/") + name; }
    bool write(const QString& name, const QByteArray& content) { return writeFile(languageFile(name), content); }

private slots:
    void init()
    {
        data.reset(new QTemporaryDir);
        qputenv("QUARVEL_DATA_DIR", data->path().toLocal8Bit());
        QVERIFY(write("notes.txt", lng("")));   // not a language file
    }

    void scanListsCompatibleFilesSorted()
    {
        write("german.lng", lng("", "<version><language>Deutsch</language><compatible>" + compat + "</compatible></version>"));
        write("English.lng", lng("", compatible(" " + compat + "\n")));
        for (const QByteArray& v : {QByteArray("0.0"), compat + ".1", compat + "0", QByteArray()})
            write(QStringLiteral("v%1.lng").arg(QString::fromLatin1(v)), lng("", compatible(v)));
        write("noversion.lng", lng("<toolbar><a>b</a></toolbar>", ""));
        write("binary.lng", QByteArray("\x00\x01\x02 not xml", 11));
        write("Late.lng", lng("", "<version><compatible>" + compat + "</compatible><language>Late</language></version>"));
        Settings s;
        QStringList listed;
        for (const QStringList& entry : languageEngine(&s).listLanguages())
            listed << entry.at(0) + '|' + entry.at(1) + '|' + entry.value(2);
        // Base names sorted without regard to case; a display name only before `compatible`.
        QCOMPARE(listed, QStringList({"English.lng|English|", "german.lng|german|Deutsch", "Late.lng|Late|"}));
    }

    void groupsFillTheirLookupsDamageKeepsWhatWasRead()
    {
        const QStringList groups = {"toolbar", "settings_view", "about_view", "statistics_view", "sessions_view",
                                    "archive_view", "flow_view", "session_view", "update_view", "sql_view", "errors",
                                    "connections_view", "compare_view", "export_view"};
        QByteArray body;
        for (const QString& g : groups)
            body += "<" + g.toLatin1() + "><k>" + g.toLatin1() + "</k></" + g.toLatin1() + ">\n";
        // Twin and data viewer texts join the session table; later entries win, also within a group that comes twice.
        write("english.lng", lng(body + "<session_view><s1>first</s1></session_view><twin_view><s1>second</s1><s2>twin</s2></twin_view>"
                                        "<data_view><d>data</d></data_view><session_view><s2>session</s2></session_view><toolbar>"
                                        "<dup>one</dup><dup>two</dup></toolbar><unknown_view><u>x</u></unknown_view>"));
        write("damaged.lng", "<general>" + version + "<toolbar><start_btn>Start</start_btn></toolbar><flow_view>"
                             "<copy>C</copy><broken>t</oops></flow_view><errors><e>E</e></errors></general>");
        write("other.lng", "<language>" + version + "<toolbar><start_btn>Start</start_btn></toolbar></language>");
        Settings s;
        languageEngine le(&s);
        // Before the first load only the built-in error texts exist.
        QVERIFY(le.errors("error_str") != languageEngine::missingText() && le.errors("lang_error") != le.errors("error_str"));
        QVERIFY(le.loadLanguage(QStringLiteral("english")));
        const QString k = QStringLiteral("k");
        QCOMPARE(QStringList({le.toolbar(k), le.settings(k), le.about(k), le.statistics(k), le.sessions(k),
                              le.archive(k), le.flow(k), le.session(k), le.update(k), le.sql(k), le.errors(k),
                              le.connections(k), le.compare(k), le.exports(k)}),
                 groups);
        QCOMPARE(QStringList({le.session("s1"), le.session("s2"), le.text("data_view", "d"), le.toolbar("dup")}),
                 QStringList({"second", "session", "data", "two"}));
        for (const QString& gone : {le.flow("s1"), le.errors("error_str"), le.text("unknown_view", "u")})
            QCOMPARE(gone, languageEngine::missingText());
        // A damaged file keeps what was read before the damage.
        QVERIFY(le.loadLanguage(QStringLiteral("damaged")));
        QCOMPARE(QStringList({le.toolbar("start_btn"), le.flow("copy"), le.flow("broken"), le.errors("e"), le.toolbar("k")}),
                 QStringList({"Start", "C", "no_translate", "no_translate", "no_translate"}));
        // Listed by its version, but nothing read under another root.
        QVERIFY(le.loadLanguage(QStringLiteral("other")) && le.currentIndex == 2);
        QCOMPARE(le.toolbar("start_btn"), languageEngine::missingText());
    }

    void runTimeSwitch_data()
    {
        // the setting, the file deleted after the scan, the language chosen; the outcome, language changes and errors
        QTest::addColumn<QStringList>("run");
        QTest::addColumn<QString>("outcome");
        // The corrected setting signals a change of its own, which loads English again.
        QTest::newRow("unknown: first listed") << QStringList{"german", "", "klingon"} << "english 2 0";
        QTest::newRow("failed: previous again") << QStringList{"english", "german", "german"} << "english 1 0";
        QTest::newRow("current fails: error") << QStringList{"english", "english", "english"} << "english 0 1";
    }

    void runTimeSwitch()
    {
        QFETCH(QStringList, run);
        QVERIFY(write("english.lng", startButton("Start")) && write("german.lng", startButton("Los")));
        Settings s;
        s.Language = run[0];
        languageEngine le(&s);
        QVERIFY(le.loadLanguage(le.currentLanguage));
        connect(&s, &Settings::changeLanguage, &le, &languageEngine::changeLanguage);
        QVERIFY(run[1].isEmpty() || QFile::remove(languageFile(run[1] + QStringLiteral(".lng"))));
        QSignalSpy changed(&le, &languageEngine::languageChange), failed(&le, &languageEngine::errorLang);
        run[2] == s.Language ? le.changeLanguage(run[2]) : s.setLanguage(run[2]); // the latter as the settings dialog does
        QTEST(QStringLiteral("%1 %2 %3").arg(le.currentLanguage).arg(changed.count()).arg(failed.count()), "outcome");
        QCOMPARE(s.Language + ' ' + le.toolbar("start_btn"), le.currentLanguage + (le.currentLanguage == "german" ? " Los" : " Start"));
    }

    void shippedLanguagesHaveEveryKeyAndNoOther()
    {
        qputenv("QUARVEL_DATA_DIR", shippedDataDir);
        Settings s;
        languageEngine le(&s);
        QMap<QString, QString> english;   // every key the program asks for, with its English text
        int differing = 0;                 // the German file is a translation, not a copy
        QStringList names;
        for (const QStringList& entry : le.listLanguages()) {
            names << entry.at(1);
            QVERIFY(le.loadLanguage(entry.at(1)) && !entry.value(2).isEmpty());
            for (const LanguageGroupKeys& g : languageKeys()) {
                for (const QString& key : g.keys) {
                    const QString text = le.text(g.group, key);
                    QVERIFY2(text != languageEngine::missingText() && !text.trimmed().isEmpty(),
                             qPrintable(entry.at(0) + ": " + g.group + "/" + key));
                    if (entry.at(1) == "english")
                        english.insert(g.group + '/' + key, text);
                    differing += entry.at(1) == "german" && english.value(g.group + '/' + key) != text;
                }
            }
            // A key in a file that the program never asks for is a misspelling.
            QXmlStreamReader r(readFile(le.languagesDir + entry.at(0)));
            QVERIFY(r.readNextStartElement());
            while (r.readNextStartElement()) {
                const QString group = r.name() == "twin_view" || r.name() == "data_view" ? "session_view" : r.name().toString();
                while (group != "version" && r.readNextStartElement()) {
                    const QString key = group + '/' + r.name().toString();
                    QVERIFY2(english.contains(key), qPrintable(entry.at(0) + ": " + key));
                    r.skipCurrentElement();
                }
                if (group == "version")
                    r.skipCurrentElement();
            }
            QVERIFY2(!r.hasError(), qPrintable(entry.at(0) + ": " + r.errorString()));
        }
        QVERIFY2(names.size() >= 2 && names.first() == "english" && names.contains("german"), qPrintable(names.join(',')));
        QVERIFY2(differing * 10 >= english.size() * 8, qPrintable(QStringLiteral("%1 of %2 differ").arg(differing).arg(english.size())));
    }

    void themeChangesOnlyItsKeys()
    {
        const StyleEngine missing;
        for (const StyleEngine::Colour& c : StyleEngine::knownColours())
            QVERIFY2(missing.table(c.group) && missing.table(c.group)->isEmpty(), qPrintable(c.group));
        // A damaged file keeps what was read before the damage.
        QVERIFY(writeFile(StyleEngine::themeFile(), "<general><session_tab><graph_clr>#111111</graph_clr><rows_txt_clr>#2"
                                                    "</session_tab><sqls_tab><data_txt_clr>#333</data_txt_clr></sqls_tab>"));
        QCOMPARE(StyleEngine().sessionTab.keys() + StyleEngine().sqlsTab.keys(), QStringList({"graph_clr"}));
        QVERIFY(writeFile(StyleEngine::themeFile(),
            "<?xml version=\"1.0\"?>\n<general>\n"
            "<statistics_graph><select_clr>#010203</select_clr><grid_clr>#123456</grid_clr></statistics_graph>\n"
            "<sqls_tab><data_txt_clr>not a colour</data_txt_clr><data_null_txt_clr> #8cc7c4 </data_null_txt_clr>"
            "</sqls_tab>\n<table_bar_clr>#abcdef</table_bar_clr>\n"
            "<sessions_tab><text_performed_clr>navy</text_performed_clr></sessions_tab>\n</general>\n"));
        StyleEngine se;
        QCOMPARE(StyleEngine::color(se.statisticsGraph, "select_clr", "#2485fd"), QColor(1, 2, 3));
        QCOMPARE(StyleEngine::value(se.statisticsGraph, "insert_clr", "#ff6565"), QStringLiteral("#ff6565"));
        // The same key in another group keeps its default.
        QCOMPARE(StyleEngine::value(se.statisticsMiniGraph, "grid_clr", "#eeeeee"), QStringLiteral("#eeeeee"));
        // Text that is no colour gives the default; blanks around one do not matter.
        QCOMPARE(StyleEngine::color(se.sqlsTab, "data_txt_clr", "#3a9790"), QColor("#3a9790"));
        QCOMPARE(StyleEngine::color(se.sqlsTab, "data_null_txt_clr", "#8cc7c3"), QColor("#8cc7c4"));
        // An entry outside any group, and groups after it still read.
        QCOMPARE(se.rootEntries, (QMap<QString, QString>{{"table_bar_clr", "#abcdef"}}));
        QCOMPARE(StyleEngine::color(se.sessionsTab, "text_performed_clr", "#d15257"), QColor("navy"));
    }

    void shippedThemeHasEveryColour()
    {
        qputenv("QUARVEL_DATA_DIR", shippedDataDir);
        StyleEngine se;
        for (const StyleEngine::Colour& c : StyleEngine::knownColours())
            QVERIFY2(se.table(c.group) && QColor(se.table(c.group)->value(c.key)).isValid(), qPrintable(c.group + "/" + c.key));
        const QString css = QString::fromUtf8(readFile(StyleEngine::themeDir() + QStringLiteral("/highlight.css")));
        for (const char* cls : {"keyword", "string", "number", "comment", "built_in", "literal", "type", "operator"})
            QVERIFY2(css.contains(QStringLiteral(".hljs-") + QLatin1String(cls)), cls);
        QCOMPARE(css.count('{'), css.count('}'));
    }
};

QTEST_GUILESS_MAIN(TestEngines)
#include "tst_engines.moc"

// The theme engine against theme files written into a private data folder,
// and the shipped theme against the colours the program looks up.
#include "StyleEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestTheme : public QObject
{
    Q_OBJECT

    QByteArray shippedDataDir;
    std::unique_ptr<QTemporaryDir> data;

    void writeTheme(const QByteArray& content)
    {
        QVERIFY(QDir().mkpath(StyleEngine::themeDir()));
        QFile f(StyleEngine::themeFile());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

    /// Colour the program would use for `c` with engine `se`.
    static QString lookup(const StyleEngine& se, const StyleEngine::Colour& c)
    {
        return StyleEngine::value(*se.table(c.group), c.key, c.def);
    }

private slots:
    void initTestCase()
    {
        shippedDataDir = qgetenv("QUARVEL_DATA_DIR");
    }

    void init()
    {
        data.reset(new QTemporaryDir);
        QVERIFY(data->isValid());
        qputenv("QUARVEL_DATA_DIR", data->path().toLocal8Bit());
    }

    void missingFileGivesEveryDefault()
    {
        StyleEngine se;
        for (auto* t : {&se.statisticsGraph, &se.statisticsMiniGraph, &se.sessionTab, &se.sessionsTab,
                        &se.sqlsTab, &se.rootEntries})
            QVERIFY(t->isEmpty());
        for (const StyleEngine::Colour& c : StyleEngine::knownColours()) {
            QVERIFY2(se.table(c.group), qPrintable(c.group));
            QCOMPARE(lookup(se, c), c.def);
            QCOMPARE(StyleEngine::color(*se.table(c.group), c.key, c.def), QColor(c.def));
        }
        QCOMPARE(StyleEngine::color(se.statisticsGraph, "legend_txt_clr", "gray"), QColor(0x80, 0x80, 0x80));   // the SVG name, not Qt::gray
    }

    void partialGroupChangesOnlyItsKeys()
    {
        writeTheme("<?xml version=\"1.0\"?>\n<general>\n"
                   "  <statistics_graph>\n    <select_clr>#010203</select_clr>\n  </statistics_graph>\n"
                   "</general>\n");
        StyleEngine se;
        QCOMPARE(se.statisticsGraph.size(), 1);
        QCOMPARE(StyleEngine::color(se.statisticsGraph, "select_clr", "#2485fd"), QColor(1, 2, 3));
        QCOMPARE(StyleEngine::value(se.statisticsGraph, "insert_clr", "#ff6565"), QStringLiteral("#ff6565"));
        int changed = 0;
        for (const StyleEngine::Colour& c : StyleEngine::knownColours())
            changed += lookup(se, c) != c.def;
        QCOMPARE(changed, 1);
    }

    void sameKeyInTwoGroupsStaysApart()
    {
        writeTheme("<general><statistics_graph><grid_clr>#123456</grid_clr></statistics_graph>"
                   "<session_tab><graph_clr>red</graph_clr></session_tab></general>");
        StyleEngine se;
        QCOMPARE(StyleEngine::value(se.statisticsGraph, "grid_clr", "#aaaaaa"), QStringLiteral("#123456"));
        QCOMPARE(StyleEngine::value(se.statisticsMiniGraph, "grid_clr", "#eeeeee"), QStringLiteral("#eeeeee"));
        QCOMPARE(StyleEngine::color(se.sessionTab, "graph_clr", "#2485fd"), QColor(Qt::red));
        QCOMPARE(StyleEngine::value(se.statisticsMiniGraph, "graph_clr", "#2485fd"), QStringLiteral("#2485fd"));
    }

    void rootLevelEntry()
    {
        writeTheme("<?xml version=\"1.0\"?>\n<general>\n"
                   "  <sqls_tab><data_txt_clr>#000001</data_txt_clr></sqls_tab>\n"
                   "  <table_bar_clr>#abcdef</table_bar_clr>\n"
                   "  <sessions_tab><text_performed_clr>navy</text_performed_clr></sessions_tab>\n"
                   "</general>\n");
        StyleEngine se;
        QCOMPARE(StyleEngine::color(se.rootEntries, "table_bar_clr", "#58b3e3"), QColor(0xab, 0xcd, 0xef));
        QVERIFY(!se.sqlsTab.contains("table_bar_clr"));
        QCOMPARE(se.sqlsTab.value("data_txt_clr"), QStringLiteral("#000001"));
        // Groups after the root entry are still read.
        QCOMPARE(StyleEngine::color(se.sessionsTab, "text_performed_clr", "#d15257"), QColor("navy"));
        QCOMPARE(se.rootEntries.size(), 1);
    }

    void wrongRootReadsNothing()
    {
        writeTheme("<?xml version=\"1.0\"?>\n<theme><statistics_graph><select_clr>#010203</select_clr>"
                   "</statistics_graph><table_bar_clr>#abcdef</table_bar_clr></theme>\n");
        StyleEngine se;
        QVERIFY(se.statisticsGraph.isEmpty());
        QVERIFY(se.rootEntries.isEmpty());
    }

    void malformedXmlKeepsWhatWasRead()
    {
        writeTheme("<general><session_tab><graph_clr>#111111</graph_clr><rows_txt_clr>#2</session_tab>"
                   "<sqls_tab><data_txt_clr>#333333</data_txt_clr></sqls_tab></general>");
        StyleEngine se;
        QCOMPARE(se.sessionTab.value("graph_clr"), QStringLiteral("#111111"));
        QVERIFY(!se.sessionTab.contains("rows_txt_clr"));
        QVERIFY(se.sqlsTab.isEmpty());
    }

    void unusableColourTextFallsBackToDefault()
    {
        writeTheme("<general><sqls_tab><data_txt_clr>not a colour</data_txt_clr>"
                   "<data_null_txt_clr> #8cc7c4 </data_null_txt_clr></sqls_tab></general>");
        StyleEngine se;
        QCOMPARE(StyleEngine::color(se.sqlsTab, "data_txt_clr", "#3a9790"), QColor("#3a9790"));
        QCOMPARE(StyleEngine::color(se.sqlsTab, "data_null_txt_clr", "#8cc7c3"), QColor("#8cc7c4"));
    }

    void shippedThemeHasEveryColour()
    {
        QVERIFY2(!shippedDataDir.isEmpty(), "QUARVEL_DATA_DIR must name the staged data folder");
        qputenv("QUARVEL_DATA_DIR", shippedDataDir);
        StyleEngine se;
        for (const StyleEngine::Colour& c : StyleEngine::knownColours()) {
            const auto* t = se.table(c.group);
            QVERIFY2(t && t->contains(c.key), qPrintable(c.group + "/" + c.key));
            QVERIFY2(QColor(t->value(c.key)).isValid(), qPrintable(c.group + "/" + c.key));
        }
        QVERIFY(QFile::exists(StyleEngine::themeDir() + QStringLiteral("/highlight.css")));
    }

    void shippedStyleSheetColoursSqlTokens()
    {
        QFile css(QString::fromLocal8Bit(shippedDataDir) + QStringLiteral("/theme/volga/highlight.css"));
        QVERIFY(css.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(css.readAll());
        for (const char* cls : {"keyword", "string", "number", "comment", "built_in", "literal", "type",
                                "operator"})
            QVERIFY2(text.contains(QStringLiteral(".hljs-") + QLatin1String(cls)), cls);
        QCOMPARE(text.count('{'), text.count('}'));
    }
};

QTEST_GUILESS_MAIN(TestTheme)
#include "tst_theme.moc"

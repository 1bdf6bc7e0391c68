// The editor and the text helpers when the installation lacks the
// highlighter: the data folder points at an empty directory before anything
// loads it.
#include "CodeEditor.h"
#include "HighlightEngine.h"
#include "TextHelpers.h"

#include <QtTest>

namespace {
QTemporaryDir emptyData;   // set up before main(), so before the highlighter is first asked for
[[maybe_unused]] const bool emptyDataSet = qputenv("QUARVEL_DATA_DIR", emptyData.path().toLocal8Bit());
}

class TestHighlightMissing : public QObject
{
    Q_OBJECT
private slots:
    void plainTextAndEscapedCells()
    {
        QVERIFY(emptyData.isValid() && !HighlightEngine::shared()->isLoaded());
        CodeEditor editor;
        editor.setPlainText(QStringLiteral("SELECT\t1\n<b>&amp;"));
        editor.highlightText();   // replaces nothing
        QCOMPARE(editor.toPlainText(), QStringLiteral("SELECT\t1\n<b>&amp;"));
        QCOMPARE(TextHelpers::toHighlightText(QStringLiteral("SELECT '<x>' -- c\nFROM\tt")),
                 QStringLiteral("SELECT '&lt;x&gt;' -- c FROM    t"));
    }
};

QTEST_MAIN(TestHighlightMissing)
#include "tst_highlight_missing.moc"

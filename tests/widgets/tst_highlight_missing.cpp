// The editor and the text helpers when the installation lacks the
// highlighter: the data folder points at an empty directory before anything
// loads it.
#include "CodeEditor.h"
#include "HighlightEngine.h"
#include "TextHelpers.h"

#include <QtTest>

class TestHighlightMissing : public QObject
{
    Q_OBJECT
private slots:
    void editorKeepsPlainText();
    void helperGivesEscapedText();
};

void TestHighlightMissing::editorKeepsPlainText()
{
    QVERIFY(!HighlightEngine::shared()->isLoaded());
    CodeEditor editor;
    QVERIFY(CodeEditor::_css.isEmpty());
    QSignalSpy spy(&editor, &CodeEditor::changeCurPos);
    editor.setPlainText(QStringLiteral("SELECT\t1\n<b>&amp;"));
    QCOMPARE(editor.toPlainText(), QStringLiteral("SELECT\t1\n<b>&amp;"));
    const int emitted = spy.count();
    editor.highlightText();
    QCOMPARE(spy.count(), emitted); // nothing was replaced
    QCOMPARE(editor.toHighlightText(QStringLiteral("a<b")), QStringLiteral("a&lt;b"));
}

void TestHighlightMissing::helperGivesEscapedText()
{
    QCOMPARE(TextHelpers::toHighlightText(QStringLiteral("SELECT '<x>' -- c\nFROM t")),
             QStringLiteral("SELECT '&lt;x&gt;' -- c FROM t"));
}

int main(int argc, char** argv)
{
    QTemporaryDir empty;
    qputenv("QUARVEL_DATA_DIR", empty.path().toLocal8Bit());
    QApplication app(argc, argv);
    TestHighlightMissing test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_highlight_missing.moc"

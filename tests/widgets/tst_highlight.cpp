#include "CodeEditor.h"
#include "HighlightEngine.h"
#include "TextHelpers.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

namespace {

const QString testCss = QStringLiteral(
    ".hljs-keyword { color: #0000ff; } .hljs-comment { color: #008000; } "
    ".hljs-string { color: #aa0000; } .hljs-number { color: #ff00ff; }");

/// Editor with the test's own style sheet, so colours can be checked
/// whatever theme is installed.
struct Editor : CodeEditor
{
    using QPlainTextEdit::blockBoundingRect;
    Editor()
    {
        document()->setDefaultStyleSheet(testCss);
        resize(400, 300);
    }
};

/// Foreground colour of the character at `position`.
QColor colourAt(QPlainTextEdit& editor, int position)
{
    QTextCursor cursor(editor.document());
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    return cursor.charFormat().foreground().color();
}

bool isBlue(const QColor& c)
{
    return c == QColor(0, 0, 255);
}

/// Plain text a cell shows for the one-line HTML.
QString cellText(const QString& html)
{
    QTextDocument doc;
    doc.setHtml(html);
    return doc.toPlainText();
}

} // namespace

class TestHighlight : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    // Editor
    void emptyTextIsNotHighlighted();
    void keywordsAreColoured();
    void textSurvivesHighlighting_data();
    void textSurvivesHighlighting();
    void tabBeforeCursorMovesItOn();
    void tabAfterCursorLeavesItInPlace();
    void undoStepsBackOneHighlightedState();
    void multiLineCommentColouredOnEveryLine();
    void emptyLinesKept();
    void editInsideScriptRecoloursThatLine();
    void highlightOffAndOn();
    void lineNumberMargin();
    void readOnlyStyle();

    // One-line form
    void oneLineDropsDoubleDashComments();
    void oneLineKeepsSpecialCharacters();
    void oneLineIsBalancedHtml();
    void oneLineCachedResultEqualsFresh();
    void missingScriptGivesEscapedText();
    void scriptInPiecesEqualsWhole();
    void helperMatchesEditor();
};

void TestHighlight::initTestCase()
{
    QVERIFY2(HighlightEngine::shared()->isLoaded(),
             qPrintable("highlighter not loaded from " + HighlightEngine::defaultScriptPath()));
}

void TestHighlight::emptyTextIsNotHighlighted()
{
    Editor editor;
    QSignalSpy spy(&editor, &CodeEditor::changeCurPos);
    editor.highlightText();
    QCOMPARE(spy.count(), 0);
    QCOMPARE(editor.document()->availableUndoSteps(), 0);
    QVERIFY(editor.toPlainText().isEmpty());
}

void TestHighlight::keywordsAreColoured()
{
    Editor editor;
    editor.setPlainText(QStringLiteral("select 1 from t -- note"));
    QVERIFY(isBlue(colourAt(editor, 0)));  // select
    QVERIFY(!isBlue(colourAt(editor, 14))); // t
    QCOMPARE(colourAt(editor, 18), QColor(0, 128, 0)); // comment
    QCOMPARE(editor.toPlainText(), QStringLiteral("select 1 from t -- note"));
}

void TestHighlight::textSurvivesHighlighting_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("backslash") << QStringLiteral("SELECT 'a\\nb', '\\\\' FROM t");
    QTest::newRow("html special") << QStringLiteral("SELECT '<b>&amp;</b>' FROM t WHERE a < 3 AND b > 2 & 1");
    QTest::newRow("quotes") << QStringLiteral("SELECT \"a\", 'b''c', `d`");
    QTest::newRow("script breaker") << QStringLiteral("SELECT \"\"); hljs = null; (\"\"");
    QTest::newRow("slash marker text") << QStringLiteral("SELECT '*slash*'");
    QTest::newRow("several spaces") << QStringLiteral("SELECT   a,    b");
    QTest::newRow("word class") << QStringLiteral("SELECT  class FROM t");
    QTest::newRow("non-ascii") << QStringLiteral("SELECT 'Grüße – 日本'");
    QTest::newRow("lines") << QStringLiteral("SELECT 1\nFROM t\n  WHERE x = 2");
}

void TestHighlight::textSurvivesHighlighting()
{
    QFETCH(QString, text);
    Editor editor;
    editor.setPlainText(text);
    QCOMPARE(editor.toPlainText(), text);
    QVERIFY(HighlightEngine::shared()->isLoaded());
}

void TestHighlight::tabBeforeCursorMovesItOn()
{
    Editor editor;
    editor.setFocus();
    QTest::keyClicks(&editor, QStringLiteral("SELECT\t1"));
    QCOMPARE(editor.toPlainText(), QStringLiteral("SELECT    1"));
    // The cursor stays behind the "1", now 3 characters further on.
    QCOMPARE(editor.textCursor().position(), 11);

    // Pasting text with two tabs: the cursor ends behind the pasted text.
    Editor pasted;
    pasted.insertPlainText(QStringLiteral("a\tb\tc"));
    QCOMPARE(pasted.toPlainText(), QStringLiteral("a    b    c"));
    QCOMPARE(pasted.textCursor().position(), 11);
}

void TestHighlight::tabAfterCursorLeavesItInPlace()
{
    Editor editor;
    editor.setPlainText(QStringLiteral("SELECT 1"));
    QTextCursor c = editor.textCursor();
    c.setPosition(3);
    editor.setTextCursor(c);
    // A tab inserted behind the cursor must not move it.
    QTextCursor other(editor.document());
    other.setPosition(7);
    other.insertText(QStringLiteral("\t"));
    QCOMPARE(editor.toPlainText(), QStringLiteral("SELECT     1"));
    QCOMPARE(editor.textCursor().position(), 3);
}

void TestHighlight::undoStepsBackOneHighlightedState()
{
    Editor editor;
    editor.setFocus();
    QTest::keyClicks(&editor, QStringLiteral("select 1"));
    QCOMPARE(editor.toPlainText(), QStringLiteral("select 1"));

    editor.undo();
    QCOMPARE(editor.toPlainText(), QStringLiteral("select "));
    QVERIFY(isBlue(colourAt(editor, 0)));
    editor.undo();
    QCOMPARE(editor.toPlainText(), QStringLiteral("select"));
    QVERIFY(isBlue(colourAt(editor, 0)));
    editor.undo();
    QCOMPARE(editor.toPlainText(), QStringLiteral("selec"));
    QVERIFY(!isBlue(colourAt(editor, 0)));
    editor.redo();
    QCOMPARE(editor.toPlainText(), QStringLiteral("select"));
    QVERIFY(isBlue(colourAt(editor, 0)));
    QCOMPARE(editor.textCursor().position(), 6);

    // The keyboard takes the same steps.
    QTest::keySequence(&editor, QKeySequence::Undo);
    QCOMPARE(editor.toPlainText(), QStringLiteral("selec"));
    QTest::keySequence(&editor, QKeySequence::Redo);
    QCOMPARE(editor.toPlainText(), QStringLiteral("select"));

    // A new edit after undo drops the steps that could have been redone.
    editor.undo();
    QTest::keyClicks(&editor, QStringLiteral("x"));
    QCOMPARE(editor.toPlainText(), QStringLiteral("selecx"));
    editor.redo();
    QCOMPARE(editor.toPlainText(), QStringLiteral("selecx"));

    // Clearing the text is a step too.
    editor.selectAll();
    QTest::keyClick(&editor, Qt::Key_Delete);
    QVERIFY(editor.toPlainText().isEmpty());
    editor.undo();
    QCOMPARE(editor.toPlainText(), QStringLiteral("selecx"));
}

void TestHighlight::multiLineCommentColouredOnEveryLine()
{
    Editor editor;
    editor.setPlainText(QStringLiteral("SELECT 1 /* first\nsecond\nthird */ FROM t"));
    QCOMPARE(editor.document()->blockCount(), 3);
    const QColor green(0, 128, 0);
    QCOMPARE(colourAt(editor, 12), green); // first
    QCOMPARE(colourAt(editor, 19), green); // second
    QCOMPARE(colourAt(editor, 26), green); // third
    QVERIFY(isBlue(colourAt(editor, editor.toPlainText().indexOf("FROM"))));
}

void TestHighlight::emptyLinesKept()
{
    Editor editor;
    const QString text = QStringLiteral("SELECT 1;\n\n\nSELECT 2;\n");
    editor.setPlainText(text);
    QCOMPARE(editor.toPlainText(), text);
    QCOMPARE(editor.document()->blockCount(), 5);
    // Empty paragraphs keep the height of a line.
    const QTextBlock empty = editor.document()->findBlockByNumber(1);
    const QTextBlock full = editor.document()->findBlockByNumber(0);
    QVERIFY(editor.blockBoundingRect(empty).height() >= editor.blockBoundingRect(full).height() - 1);
}

void TestHighlight::editInsideScriptRecoloursThatLine()
{
    Editor editor;
    editor.setPlainText(QStringLiteral("select 1;\nselect 2;\nselect 3;\n/* open"));
    QTextCursor c = editor.textCursor();
    c.setPosition(editor.toPlainText().indexOf(QLatin1String("2;")) + 1);
    editor.setTextCursor(c);
    editor.setFocus();
    QTest::keyClicks(&editor, QStringLiteral(" from\tt"));
    const QString expected = QStringLiteral("select 1;\nselect 2 from    t;\nselect 3;\n/* open");
    QCOMPARE(editor.toPlainText(), expected);
    QCOMPARE(editor.blockCount(), 4);
    QCOMPARE(editor.textCursor().position(), expected.indexOf(QLatin1String("t;\nselect 3")) + 1);
    QVERIFY(isBlue(colourAt(editor, expected.indexOf(QLatin1String("from")))));
    QVERIFY(isBlue(colourAt(editor, expected.indexOf(QLatin1String("select 3")))));
    QCOMPARE(colourAt(editor, expected.indexOf(QLatin1String("open"))), QColor(0, 128, 0));

    // Closing the comment on the last line changes only that line; breaking a
    // line in two adds a block.
    editor.moveCursor(QTextCursor::End);
    QTest::keyClicks(&editor, QStringLiteral(" */ select"));
    QVERIFY(isBlue(colourAt(editor, editor.toPlainText().lastIndexOf(QLatin1String("select")))));
    c.setPosition(expected.indexOf(QLatin1String("from")));
    editor.setTextCursor(c);
    QTest::keyClick(&editor, Qt::Key_Return);
    QCOMPARE(editor.blockCount(), 5);
    QCOMPARE(editor.document()->findBlockByNumber(2).text().replace(QChar::Nbsp, QLatin1Char(' ')), QStringLiteral("from    t;"));
    QVERIFY(isBlue(colourAt(editor, editor.document()->findBlockByNumber(2).position())));
}

void TestHighlight::highlightOffAndOn()
{
    Editor editor;
    editor.setPlainText(QStringLiteral("select 1"));
    QVERIFY(isBlue(colourAt(editor, 0)));

    editor.setEnabledHighlight(false);
    QVERIFY(!editor.isHighlightEnabled());
    QVERIFY(!isBlue(colourAt(editor, 0)));
    editor.moveCursor(QTextCursor::End);
    editor.insertPlainText(QStringLiteral(" from\tt"));
    QCOMPARE(editor.toPlainText(), QStringLiteral("select 1 from\tt")); // no rehighlight
    QVERIFY(!isBlue(colourAt(editor, 9)));

    editor.setEnabledHighlight(true);
    QCOMPARE(editor.toPlainText(), QStringLiteral("select 1 from    t"));
    QVERIFY(isBlue(colourAt(editor, 0)));
    QVERIFY(isBlue(colourAt(editor, 9)));
    editor.insertPlainText(QStringLiteral(" where"));
    QVERIFY(isBlue(colourAt(editor, editor.toPlainText().indexOf("where"))));
}

void TestHighlight::lineNumberMargin()
{
    Editor editor;
    const int nine = editor.fontMetrics().horizontalAdvance(QLatin1Char('9'));
    QCOMPARE(editor.lineNumberAreaWidth(), nine + 3);
    editor.setPlainText(QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9"));
    QCOMPARE(editor.blockCount(), 9);
    QCOMPARE(editor.lineNumberAreaWidth(), nine + 3);
    editor.appendPlainText(QStringLiteral("10"));
    QCOMPARE(editor.blockCount(), 10);
    QCOMPARE(editor.lineNumberAreaWidth(), 2 * nine + 3);
    QCOMPARE(editor.viewport()->geometry().left() - editor.contentsRect().left(), 2 * nine + 3);
}

void TestHighlight::readOnlyStyle()
{
    Editor editor;
    editor.setReadOnlyStyle();
    QCOMPARE(editor.palette().color(QPalette::Active, QPalette::Base), QColor("#f5f5f5"));
    QCOMPARE(editor.palette().color(QPalette::Inactive, QPalette::Base), QColor("#f5f5f5"));
    QCOMPARE(editor.palette().color(QPalette::Disabled, QPalette::Base), QColor(240, 240, 240));
}

void TestHighlight::oneLineDropsDoubleDashComments()
{
    Editor editor;
    const QString a = editor.toHighlightText(QStringLiteral("SELECT a FROM users -- all users"));
    QVERIFY(!a.contains(QLatin1String("all users")));
    QVERIFY(a.contains(QLatin1String("hljs-keyword")));
    QCOMPARE(cellText(a).trimmed(), QStringLiteral("SELECT a FROM users"));

    // A comment in the middle goes, the statement after it stays, on one line.
    const QString b = editor.toHighlightText(QStringLiteral("SELECT a -- TODO: check\nFROM t\tWHERE x"));
    QVERIFY(!b.contains('\n'));
    // (the cell collapses runs of spaces, as HTML does)
    QCOMPARE(cellText(b), QStringLiteral("SELECT a FROM t WHERE x"));
    QVERIFY(b.contains(QLatin1String("t    ")));

    // A word ending in "s" right before the comment keeps its letter.
    QCOMPARE(cellText(editor.toHighlightText(QStringLiteral("SELECT users-- c\nFROM t"))),
             QStringLiteral("SELECT users FROM t"));

    // Block comments stay.
    QVERIFY(cellText(editor.toHighlightText(QStringLiteral("SELECT /* keep */ 1"))).contains("keep"));
}

void TestHighlight::oneLineKeepsSpecialCharacters()
{
    Editor editor;
    const QString text = QStringLiteral("SELECT '<b>&nbsp;</b>', \"x\\y\" FROM t WHERE a < b & c > 0");
    const QString html = editor.toHighlightText(text);
    QVERIFY(!html.contains(QLatin1String("<b>")));
    QCOMPARE(cellText(html), text);
}

void TestHighlight::oneLineIsBalancedHtml()
{
    Editor editor;
    const QString html = editor.toHighlightText(
        QStringLiteral("SELECT 1 -- FIXME: nested doc tag\nFROM t -- TODO: x"));
    QCOMPARE(html.count(QLatin1String("<span")), html.count(QLatin1String("</span>")));
    QVERIFY(!html.contains(QLatin1String("FIXME")));
    QVERIFY(!html.contains(QLatin1String("TODO")));
}

void TestHighlight::oneLineCachedResultEqualsFresh()
{
    HighlightEngine* engine = HighlightEngine::shared();
    const QString text = QStringLiteral("UPDATE t SET a = 1 WHERE id = 7");
    const QString first = engine->oneLine(text);
    const QString cached = engine->oneLine(text);
    engine->clearCache();
    QCOMPARE(cached, first);
    QCOMPARE(engine->oneLine(text), first);
    // A cache too small for the entry still gives the right result.
    engine->setCacheLimit(1);
    QCOMPARE(engine->oneLine(text), first);
    engine->setCacheLimit(4 * 1024 * 1024);
}

void TestHighlight::missingScriptGivesEscapedText()
{
    HighlightEngine missing(QStringLiteral("/nonexistent/highlight.pack.js"));
    QVERIFY(!missing.isLoaded());
    QString html;
    QVERIFY(!missing.highlight(QStringLiteral("SELECT 1"), &html));
    QCOMPARE(missing.oneLine(QStringLiteral("SELECT a<b & c\nFROM\tt")),
             QStringLiteral("SELECT a&lt;b &amp; c FROM    t"));

    // A file that is not the highlighter at all.
    QTemporaryFile broken;
    QVERIFY(broken.open());
    broken.write("this is { not a script");
    broken.close();
    HighlightEngine wrong(broken.fileName());
    QVERIFY(!wrong.isLoaded());
    QCOMPARE(wrong.oneLine(QStringLiteral("a<b")), QStringLiteral("a&lt;b"));
}

void TestHighlight::scriptInPiecesEqualsWhole()
{
    const QString script = QStringLiteral(
        "SELECT 'a;b', \"c;d\", `e;f` FROM t; -- note; here\n"
        "UPDATE t SET x = 1 /* ; inside */ WHERE y = 2;\n"
        "# hash; comment\n"
        "INSERT INTO t VALUES (1);;\n"
        "DELETE FROM t WHERE z = 'unterminated; string");
    const QStringList pieces = HighlightEngine::splitStatements(script);
    QCOMPARE(pieces.join(QString()), script);
    QCOMPARE(pieces.size(), 5);
    QCOMPARE(pieces.at(3), QStringLiteral(";"));
    QVERIFY(pieces.at(0).endsWith(QLatin1String("FROM t;")));
    QVERIFY(pieces.at(1).startsWith(QLatin1String(" -- note; here\nUPDATE")));

    HighlightEngine* engine = HighlightEngine::shared();
    QString whole, inPieces;
    QVERIFY(engine->highlight(script, &whole));
    QVERIFY(engine->highlightScript(script, &inPieces));
    QCOMPARE(inPieces, whole);
    // Again, now from the remembered pieces.
    QVERIFY(engine->highlightScript(script, &inPieces));
    QCOMPARE(inPieces, whole);
}

void TestHighlight::helperMatchesEditor()
{
    Editor editor;
    const QString text = QStringLiteral("INSERT INTO t VALUES (1, 'x') -- c");
    QCOMPARE(TextHelpers::toHighlightText(text), editor.toHighlightText(text));
}

QTEST_MAIN(TestHighlight)
#include "tst_highlight.moc"

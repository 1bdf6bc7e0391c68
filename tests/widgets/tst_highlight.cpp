// The code editor, the highlighter and the statement text helpers.
#include "CodeEditor.h"
#include "HighlightEngine.h"
#include "TextHelpers.h"

#include <QTextBlock>
#include <QtTest>

namespace {

/// Editor with the test's own style sheet, so colours can be checked
/// whatever theme is installed.
struct Editor : CodeEditor
{
    using QPlainTextEdit::blockBoundingRect;
    Editor()
    {
        document()->setDefaultStyleSheet(QStringLiteral(".hljs-keyword { color: #0000ff; } "
                                                        ".hljs-comment { color: #008000; }"));
        resize(400, 300);
        setFocus();
    }
    /// Foreground colour of the character at `position`: 'k' keyword blue,
    /// 'c' comment green, '-' anything else.
    char colourAt(int position)
    {
        QTextCursor cursor(document());
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        const QColor c = cursor.charFormat().foreground().color();
        return c == QColor(0, 0, 255) ? 'k' : c == QColor(0, 128, 0) ? 'c' : '-';
    }
    QString colours(const QStringList& words)
    {
        QString out;
        for (const QString& w : words)
            out += colourAt(toPlainText().indexOf(w));
        return out;
    }
};

} // namespace

class TestHighlight : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(HighlightEngine::shared()->isLoaded(), qPrintable(HighlightEngine::bundlePath())); }

    void textSurvivesHighlighting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("backslash, quotes") << QStringLiteral("SELECT 'a\\nb', '\\\\', \"a\", 'b''c', `d`   class");
        QTest::newRow("html special") << QStringLiteral("SELECT '<b>&amp;</b>' FROM t WHERE a < 3 AND b > 2 & 1");
        QTest::newRow("script breaker") << QStringLiteral("SELECT \"\"); hljs = null; (\"\"");
        QTest::newRow("non-ascii, empty lines") << QStringLiteral("SELECT 'Grüße – 日本';\n\n\n  SELECT 2;\n");
    }

    void textSurvivesHighlighting()
    {
        QFETCH(QString, text);
        Editor editor;
        editor.setPlainText(text);
        QCOMPARE(editor.toPlainText(), text);
        QCOMPARE(editor.colourAt(0), 'k');
        // Empty paragraphs keep the height of a line.
        const QTextBlock second = editor.document()->findBlockByNumber(qMin(1, editor.blockCount() - 1));
        QVERIFY(editor.blockBoundingRect(second).height() >= editor.blockBoundingRect(editor.document()->firstBlock()).height() - 1);
    }

    void pastedTabsBecomeSpaces()
    {
        Editor editor;
        editor.insertPlainText(QStringLiteral("SELECT\t1\tx"));
        QCOMPARE(editor.toPlainText(), QStringLiteral("SELECT    1    x"));
        QCOMPARE(editor.textCursor().position(), 16);   // behind the pasted text
        // A tab inserted behind the cursor does not move it.
        QTextCursor c = editor.textCursor();
        c.setPosition(3);
        editor.setTextCursor(c);
        c.setPosition(7);
        c.insertText(QStringLiteral("\t"));
        QCOMPARE(editor.toPlainText(), QStringLiteral("SELECT") + QString(8, ' ') + QStringLiteral("1    x"));
        QCOMPARE(editor.textCursor().position(), 3);
    }

    void undoStepsBackOneHighlightedState()
    {
        Editor editor;
        QTest::keyClicks(&editor, QStringLiteral("select 1"));
        for (int i = 0; i < 3; ++i)
            QTest::keySequence(&editor, QKeySequence::Undo);
        QCOMPARE(editor.toPlainText() + editor.colourAt(0), QStringLiteral("selec-"));
        editor.redo();
        QCOMPARE(editor.toPlainText() + editor.colourAt(0), QStringLiteral("selectk"));
        QCOMPARE(editor.textCursor().position(), 6);
        // A new edit after undo drops the steps that could have been redone.
        editor.undo();
        QTest::keyClicks(&editor, QStringLiteral("x"));
        QTest::keySequence(&editor, QKeySequence::Redo);
        QCOMPARE(editor.toPlainText(), QStringLiteral("selecx"));
    }

    void editInsideScriptRecoloursThatLine()
    {
        Editor editor;
        editor.setPlainText(QStringLiteral("select 1;\nselect 2;\nselect 3;\n/* still\nopen"));
        QTextCursor c = editor.textCursor();
        c.setPosition(editor.toPlainText().indexOf(QLatin1String("2;")) + 1);
        editor.setTextCursor(c);
        QTest::keyClicks(&editor, QStringLiteral(" from\tt"));
        const QString expected = QStringLiteral("select 1;\nselect 2 from    t;\nselect 3;\n/* still\nopen");
        QCOMPARE(editor.toPlainText(), expected);
        QCOMPARE(editor.textCursor().position(), expected.indexOf(QLatin1String("t;\nselect 3")) + 1);
        QCOMPARE(editor.colours({"select 1", "from", "t;", "select 3", "still", "open"}), QStringLiteral("kk-kcc"));
        // Closing the comment on the last line; breaking a line in two.
        editor.moveCursor(QTextCursor::End);
        QTest::keyClicks(&editor, QStringLiteral(" */ select"));
        QCOMPARE(editor.colourAt(editor.toPlainText().lastIndexOf(QLatin1String("select"))), 'k');
        QCOMPARE(editor.colours({"still", "open", "*/"}), QStringLiteral("ccc"));
        c.setPosition(expected.indexOf(QLatin1String("from")));
        editor.setTextCursor(c);
        QTest::keyClick(&editor, Qt::Key_Return);
        QCOMPARE(editor.blockCount(), 6);
        const QTextBlock third = editor.document()->findBlockByNumber(2);
        QCOMPARE(third.text().replace(QChar::Nbsp, QLatin1Char(' ')), QStringLiteral("from    t;"));
        QCOMPARE(editor.colourAt(third.position()), 'k');
    }

    void oneLineForCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("trailing comment") << "SELECT a FROM users -- FIXME: all users" << "SELECT a FROM users ";
        QTest::newRow("comment inside") << "SELECT a -- TODO: check\nFROM t\tWHERE x" << "SELECT a FROM t WHERE x";
        QTest::newRow("word ends in s") << "SELECT users-- c\nFROM t" << "SELECT users FROM t";
        QTest::newRow("block comment, special characters")
            << "SELECT /* keep */ '<b>&nbsp;</b>', \"x\\y\" FROM t WHERE a < b & c > 0"
            << "SELECT /* keep */ '<b>&nbsp;</b>', \"x\\y\" FROM t WHERE a < b & c > 0";
    }

    void oneLineForCells()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        Editor editor;
        const QString html = editor.toHighlightText(text);
        QTextDocument cell;   // what a table cell shows; it collapses runs of spaces
        cell.setHtml(html);
        QCOMPARE(cell.toPlainText().trimmed(), shown.trimmed());
        QVERIFY(html.contains(QLatin1String("hljs-keyword")) && !html.contains('\n') && !html.contains('\t'));
        QCOMPARE(html.count(QLatin1String("<span")), html.count(QLatin1String("</span>")));
        QCOMPARE(TextHelpers::toHighlightText(text), html);
        // The helper's answer came from the cache; one too small for the entry answers the same.
        HighlightEngine::shared()->setCacheLimit(1);
        QCOMPARE(HighlightEngine::shared()->oneLine(text), html);
        HighlightEngine::shared()->setCacheLimit(4 * 1024 * 1024);
    }

    void scriptInPiecesEqualsWhole()
    {
        const QString script = QStringLiteral("SELECT 'a;b', \"c;d\", `e;f` FROM t; -- note; here\n"
                                              "UPDATE t SET x = 1 /* ; inside */ WHERE y = 2;\n# hash; comment\n"
                                              "INSERT INTO t VALUES (1);;\nDELETE FROM t WHERE z = 'unterminated; string");
        const QStringList pieces = HighlightEngine::splitStatements(script);
        QCOMPARE(pieces.join(QString()), script);
        QCOMPARE(pieces.size(), 5);
        QCOMPARE(pieces.at(3), QStringLiteral(";"));
        QString whole, inPieces;
        QVERIFY(HighlightEngine::shared()->highlight(script, &whole));
        for (int again = 0; again < 2; ++again) {   // the second time from the remembered pieces
            QVERIFY(HighlightEngine::shared()->highlightScript(script, &inPieces));
            QCOMPARE(inPieces, whole);
        }
    }

    void textHelpers()
    {
        // Line breaks fold into one space; remRN folds runs of spaces too.
        QCOMPARE(TextHelpers::recQuery(QStringLiteral("\nSELECT\r\n\n1 \n  x")), QStringLiteral(" SELECT 1    x"));
        QCOMPARE(TextHelpers::remRN(QStringLiteral("  a  \n b\r\n\t\tc")), QStringLiteral(" a b \t\tc"));
        QString digits;
        for (int i = 0; i < 1000; ++i)
            digits += QChar('0' + i % 10);
        QStringList lines;   // ten lines of 80 at most, then a marker when something was left out
        for (int i = 0; i < 10; ++i)
            lines << digits.mid(i * 80, 80);
        QCOMPARE(TextHelpers::toTooltipStr(digits.left(800)), lines.join('\n'));
        QCOMPARE(TextHelpers::toTooltipStr(digits.left(801)), lines.join('\n') + QStringLiteral("[...]"));
        // Tabs become spaces, one leading line feed goes; inner ones count as characters.
        QCOMPARE(TextHelpers::toTooltipStr(QStringLiteral("\n\nSELECT\t1")), QStringLiteral("\nSELECT 1"));
        QCOMPARE(TextHelpers::toTooltipStr(QString(79, 'x') + QStringLiteral("\ny")), QString(79, 'x') + QStringLiteral("\n\ny"));
    }
};

QTEST_MAIN(TestHighlight)
#include "tst_highlight.moc"

#pragma once

#include <QPlainTextEdit>
#include <QString>

class QLabel;
class QPaintEvent;
class QResizeEvent;
class QScriptEngine;
class HighlightEngine;
class LineNumberArea;

/// Plain-text SQL editor with line numbers in its left margin and SQL
/// colouring by highlight.js; also the statement viewer of the session,
/// twin, comparison and archive views. GUI thread only.
class CodeEditor : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit CodeEditor(QWidget* parent = nullptr);

    /// Highlighting style sheet (hljs-* classes) of the theme, read again by
    /// every editor construction; table delegates draw cells with it too.
    static QString _css;
    /// Path of the style sheet `_css` is read from.
    static QString cssPath();
    /// Reads the style sheet (up to its first zero byte) into `_css`; an
    /// unreadable file leaves `_css` empty.
    static void loadCss();

    /// Width of the line number margin in pixels: digits of the block count
    /// (at least one) times the width of "9", plus 3.
    int lineNumberAreaWidth();
    void lineNumberAreaPaintEvent(QPaintEvent* event);

    /// Palette of the read-only statement viewers (callers also make the
    /// editor read-only).
    void setReadOnlyStyle();
    /// Turns colouring on (rehighlights at once) or off (back to plain text).
    void setEnabledHighlight(bool on);
    bool isHighlightEnabled() const { return highlightEnabled; }

    /// One-line highlighted HTML of `text` for table cells: line breaks as
    /// spaces, double-dash comments removed; the escaped plain text when the
    /// highlighter is not loaded.
    QString toHighlightText(QString text);

    /// The small corner label (hidden until an owner shows it).
    QLabel* lengthLabelWidget() const { return lengthLabel; }
    /// The highlighter this editor uses (shared by all editors).
    HighlightEngine* highlighter() const { return highlightEngine; }

signals:
    /// Every cursor movement and every rehighlight.
    void changeCurPos();

public slots:
    void updateLineNumberAreaWidth(int newBlockCount);
    void updateLineNumberArea(const QRect& rect, int dy);
    /// Replaces the document by its highlighted form, keeping the cursor in
    /// place; one undo step goes back one highlighted state.
    void highlightText();
    /// Back to the previous highlighted state (while highlighting is on;
    /// otherwise the document's own undo).
    void undo();
    void redo();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    /// One state of the text as highlighting left it, with its cursor.
    struct State
    {
        QString text;
        int position;
    };

    void connectHighlight();
    void disconnectHighlight();
    /// Whether this editor keeps its own history of highlighted states
    /// (highlighting on and the highlighter loaded).
    bool ownHistory() const;
    void resetHistory();
    void record(const QString& text, int position);
    /// Shows `state` highlighted, without recording it.
    void restore(const State& state);
    /// Shows `lines` (one paragraph of HTML per line of `text`) and puts the
    /// cursor at `position`. Lines shown already with the same HTML are kept;
    /// only the changed run of lines is replaced.
    void replaceDocument(const QStringList& lines, const QString& text, int position);
    /// Replaces the whole document.
    void replaceAll(const QStringList& lines);

    LineNumberArea* lineNumberArea = nullptr;
    QLabel* lengthLabel = nullptr;
    /// The script engine holding highlight.js; belongs to the shared
    /// highlighter, so loading costs once per program, not once per editor.
    QScriptEngine* scriptEngine = nullptr;
    bool highlightEnabled = true;
    HighlightEngine* highlightEngine = nullptr;
    /// Highlighted states, oldest first, at most `maxHistory`.
    QList<State> history;
    int historyIndex = -1;
    /// HTML of each block as last inserted (blocks inserted by the editor
    /// carry the user state `highlightedBlock`).
    QStringList shownLines;
    static constexpr int highlightedBlock = 0x51;
    static constexpr int maxHistory = 1000;
};

/// Left margin of a CodeEditor; paints through its editor. GUI thread only.
class LineNumberArea : public QWidget
{
    Q_OBJECT
public:
    explicit LineNumberArea(CodeEditor* editor);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CodeEditor* codeEditor;
};

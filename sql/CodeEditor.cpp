#include "CodeEditor.h"

#include "DataPaths.h"
#include "HighlightEngine.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

QString CodeEditor::_css;

QString CodeEditor::cssPath()
{
    return quarvelDataDir() + QStringLiteral("/theme/volga/highlight.css");
}

void CodeEditor::loadCss()
{
    QFile file(cssPath());
    if (!file.open(QIODevice::ReadOnly)) {
        _css.clear();
        return;
    }
    QByteArray bytes = file.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    _css = QString::fromUtf8(bytes);
}

CodeEditor::CodeEditor(QWidget* parent)
    : QPlainTextEdit(parent)
{
    highlightEngine = HighlightEngine::shared();
    scriptEngine = highlightEngine->scriptEngine();
    loadCss();
    document()->setDefaultStyleSheet(_css);

    lineNumberArea = new LineNumberArea(this);
    lengthLabel = new QLabel(QStringLiteral("0"), this);
    lengthLabel->setMargin(2);
    lengthLabel->setScaledContents(true);
    lengthLabel->setStyleSheet(QStringLiteral("background: #dadce0"));
    QPalette labelPalette = lengthLabel->palette();
    labelPalette.setColor(QPalette::Active, QPalette::WindowText, QColor(113, 113, 113));
    labelPalette.setColor(QPalette::Inactive, QPalette::WindowText, QColor(113, 113, 113));
    lengthLabel->setPalette(labelPalette);
    lengthLabel->hide();

    QFont font(QStringLiteral("Lucida Console"));
    font.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    font.setPointSize(9);
    setFont(font);
    setTabStopDistance(QFontMetricsF(font).horizontalAdvance(QStringLiteral("0000")));

    document()->setUndoRedoEnabled(true);
    resetHistory();

    connect(this, &QPlainTextEdit::blockCountChanged, this, &CodeEditor::updateLineNumberAreaWidth);
    connect(this, &QPlainTextEdit::updateRequest, this, &CodeEditor::updateLineNumberArea);
    connectHighlight();
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &CodeEditor::changeCurPos);
    updateLineNumberAreaWidth(0);
}

void CodeEditor::connectHighlight()
{
    connect(this, &QPlainTextEdit::textChanged, this, &CodeEditor::highlightText,
            Qt::UniqueConnection);
}

void CodeEditor::disconnectHighlight()
{
    disconnect(this, &QPlainTextEdit::textChanged, this, &CodeEditor::highlightText);
}

int CodeEditor::lineNumberAreaWidth()
{
    int digits = 1;
    int max = qMax(1, blockCount());
    while (max >= 10) {
        max /= 10;
        ++digits;
    }
    return digits * fontMetrics().horizontalAdvance(QLatin1Char('9')) + 3;
}

void CodeEditor::updateLineNumberAreaWidth(int /*newBlockCount*/)
{
    setViewportMargins(lineNumberAreaWidth(), 0, 0, 0);
}

void CodeEditor::updateLineNumberArea(const QRect& rect, int dy)
{
    if (dy)
        lineNumberArea->scroll(0, dy);
    else
        lineNumberArea->update(0, rect.y(), lineNumberArea->width(), rect.height());
    if (rect.contains(viewport()->rect()))
        updateLineNumberAreaWidth(0);
}

void CodeEditor::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    const QRect cr = contentsRect();
    lineNumberArea->setGeometry(QRect(cr.left(), cr.top(), lineNumberAreaWidth(), cr.height()));
    lengthLabel->adjustSize();
    const QRect vp = viewport()->geometry();
    lengthLabel->move(vp.right() - lengthLabel->width() + 1, vp.bottom() - lengthLabel->height() + 1);
}

void CodeEditor::lineNumberAreaPaintEvent(QPaintEvent* event)
{
    QPainter painter(lineNumberArea);
    painter.fillRect(event->rect(), QColor(218, 220, 224));
    painter.setPen(QColor(113, 113, 113));

    QTextBlock block = firstVisibleBlock();
    int blockNumber = block.blockNumber();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    int bottom = top + qRound(blockBoundingRect(block).height());
    const int height = fontMetrics().height();
    while (block.isValid() && top <= event->rect().bottom()) {
        if (block.isVisible() && bottom >= event->rect().top()) {
            painter.drawText(0, top, lineNumberArea->width(), height, Qt::AlignRight,
                             QString::number(blockNumber + 1));
        }
        block = block.next();
        top = bottom;
        bottom = top + qRound(blockBoundingRect(block).height());
        ++blockNumber;
    }
}

void CodeEditor::setReadOnlyStyle()
{
    QPalette p = palette();
    p.setColor(QPalette::Active, QPalette::Base, QColor(QStringLiteral("#f5f5f5")));
    p.setColor(QPalette::Inactive, QPalette::Base, QColor(QStringLiteral("#f5f5f5")));
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(240, 240, 240));
    setPalette(p);
}

bool CodeEditor::ownHistory() const
{
    return highlightEnabled && highlightEngine->isLoaded();
}

void CodeEditor::resetHistory()
{
    history.clear();
    historyIndex = -1;
    // While highlighting replaces the whole document on every change, the
    // document's own undo stack would hold the replacements, not the user's
    // steps: the editor keeps the highlighted states itself instead.
    document()->setUndoRedoEnabled(!ownHistory());
    if (ownHistory())
        record(toPlainText(), textCursor().position());
}

void CodeEditor::record(const QString& text, int position)
{
    while (history.size() > historyIndex + 1)
        history.removeLast();
    if (historyIndex >= 0 && history.at(historyIndex).text == text) {
        history[historyIndex].position = position;
        return;
    }
    history.append(State{text, position});
    if (history.size() > maxHistory)
        history.removeFirst();
    historyIndex = history.size() - 1;
}

void CodeEditor::setEnabledHighlight(bool on)
{
    if (on == highlightEnabled)
        return;
    highlightEnabled = on;
    if (on) {
        highlightText();
        connectHighlight();
        resetHistory();
    } else {
        disconnectHighlight();
        const QString text = toPlainText();
        setCurrentCharFormat(QTextCharFormat());
        setPlainText(text);
        resetHistory();
    }
}

void CodeEditor::replaceAll(const QStringList& lines)
{
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    if (lines.isEmpty())
        cursor.removeSelectedText();
    else
        cursor.insertHtml(lines.join(QString()));
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
        b.setUserState(highlightedBlock);
}

void CodeEditor::replaceDocument(const QStringList& lines, const QString& text, int position)
{
    disconnectHighlight();
    QTextDocument* doc = document();
    const QStringList texts = lines.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    bool patched = false;
    if (!lines.isEmpty() && !shownLines.isEmpty() && texts.size() == lines.size()) {
        // Blocks that show the wanted line already, from the start and from the end.
        auto same = [&](const QTextBlock& block, int shown, int wanted) {
            if (block.userState() != highlightedBlock || shownLines.at(shown) != lines.at(wanted))
                return false;
            QString blockText = block.text(); // spaces are shown as non-breaking ones
            blockText.replace(QChar::Nbsp, QLatin1Char(' '));
            return blockText == texts.at(wanted);
        };
        const int blocks = doc->blockCount();
        const int limit = qMin(blocks, qMin(lines.size(), shownLines.size()));
        int prefix = 0;
        QTextBlock block = doc->begin();
        while (prefix < limit && same(block, prefix, prefix)) {
            ++prefix;
            block = block.next();
        }
        int suffix = 0;
        block = doc->lastBlock();
        while (suffix < limit - prefix
               && same(block, shownLines.size() - 1 - suffix, lines.size() - 1 - suffix)) {
            ++suffix;
            block = block.previous();
        }
        const int lastBlock = blocks - 1 - suffix;
        const int lastLine = lines.size() - 1 - suffix;
        if (prefix > lastBlock && prefix > lastLine) {
            patched = true; // nothing to change
        } else if (prefix <= lastBlock && prefix <= lastLine) {
            const QTextBlock first = doc->findBlockByNumber(prefix);
            const QTextBlock last = doc->findBlockByNumber(lastBlock);
            QTextCursor cursor(doc);
            cursor.setPosition(first.position());
            cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
            cursor.insertHtml(lines.mid(prefix, lastLine - prefix + 1).join(QString()));
            // The patch must leave exactly the wanted text, or it is redone whole.
            patched = doc->blockCount() == lines.size() && doc->toPlainText() == text;
            if (patched) {
                QTextBlock b = doc->findBlockByNumber(prefix);
                for (int i = prefix; i <= lastLine && b.isValid(); ++i, b = b.next())
                    b.setUserState(highlightedBlock);
            }
        }
    }
    if (!patched)
        replaceAll(lines);
    shownLines = lines;

    QTextCursor cursor(doc);
    position = qBound(0, position, doc->characterCount() - 1);
    cursor.setPosition(position);
    setTextCursor(cursor);
    emit changeCurPos();
    if (highlightEnabled)
        connectHighlight();
}

void CodeEditor::highlightText()
{
    const QString text = toPlainText();
    if (text.isEmpty()) {
        // Nothing to colour; the empty text is still a state to go back from.
        if (ownHistory())
            record(text, 0);
        return;
    }

    // Every tab turns into four spaces: the cursor moves 3 further per tab
    // in front of it, so it stays behind the same character.
    int position = textCursor().position();
    position += 3 * text.leftRef(position).count(QLatin1Char('\t'));

    QStringList lines;
    if (!highlightEngine->paragraphList(text, &lines))
        return; // no highlighter: the text stays as typed

    replaceDocument(lines, HighlightEngine::expandTabs(text), position);
    if (ownHistory())
        record(HighlightEngine::expandTabs(text), textCursor().position());
}

void CodeEditor::restore(const State& state)
{
    QStringList lines;
    if (!state.text.isEmpty() && !highlightEngine->paragraphList(state.text, &lines))
        return;
    replaceDocument(lines, state.text, state.position);
}

void CodeEditor::undo()
{
    if (!ownHistory()) {
        QPlainTextEdit::undo();
        return;
    }
    if (historyIndex <= 0)
        return;
    --historyIndex;
    restore(history.at(historyIndex));
}

void CodeEditor::redo()
{
    if (!ownHistory()) {
        QPlainTextEdit::redo();
        return;
    }
    if (historyIndex + 1 >= history.size())
        return;
    ++historyIndex;
    restore(history.at(historyIndex));
}

void CodeEditor::keyPressEvent(QKeyEvent* event)
{
    if (ownHistory() && !isReadOnly()) {
        if (event->matches(QKeySequence::Undo)) {
            undo();
            event->accept();
            return;
        }
        if (event->matches(QKeySequence::Redo)) {
            redo();
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

QString CodeEditor::toHighlightText(QString text)
{
    return highlightEngine->oneLine(text);
}

LineNumberArea::LineNumberArea(CodeEditor* editor)
    : QWidget(editor)
    , codeEditor(editor)
{
}

QSize LineNumberArea::sizeHint() const
{
    return QSize(codeEditor->lineNumberAreaWidth(), 0);
}

void LineNumberArea::paintEvent(QPaintEvent* event)
{
    codeEditor->lineNumberAreaPaintEvent(event);
}

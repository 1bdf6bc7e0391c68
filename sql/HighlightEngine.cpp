#include "HighlightEngine.h"

#include "DataPaths.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QScriptEngine>
#include <QScriptValueList>
#include <QStringList>

namespace {

const QString commentOpen = QStringLiteral("<span class=\"hljs-comment\">--");
const QString spanOpen = QStringLiteral("<span");
const QString spanClose = QStringLiteral("</span>");

bool isBlank(QChar c)
{
    return c.isSpace();
}

} // namespace

HighlightEngine::HighlightEngine(const QString& program, QObject* parent)
    : QObject(parent)
    , engine(new QScriptEngine(this))
    , cache(4 * 1024 * 1024)
    , pieceCache(4 * 1024 * 1024)
{
    if (program.isEmpty())
        return;
    engine->evaluate(program, QStringLiteral("highlight.js"), 1);
    if (engine->hasUncaughtException()) {
        engine->clearExceptions();
        return;
    }
    hljsObject = engine->globalObject().property(QStringLiteral("hljs"));
    highlightFunction = hljsObject.property(QStringLiteral("highlight"));
    loaded = highlightFunction.isFunction();
    // The grammar's regular expressions are compiled on first use: pay for
    // that here rather than on the first statement shown.
    QString warm;
    if (loaded && !highlight(QStringLiteral("SELECT 1 FROM t WHERE a = 'b' -- c"), &warm))
        loaded = false;
}

HighlightEngine::~HighlightEngine() = default;

QString HighlightEngine::bundlePath()
{
    return QStringLiteral(QUARVEL_HIGHLIGHT_BUNDLE);
}

QString HighlightEngine::cutBundle(const QString& bundle)
{
    const QLatin1String coreEnd("\n}));"), sqlBegin("hljs.registerLanguage('sql'"), sqlEnd("\n});");
    const int core = bundle.indexOf(coreEnd);
    const int sql = bundle.indexOf(sqlBegin);
    const int sqlStop = sql < 0 ? -1 : bundle.indexOf(sqlEnd, sql);
    if (core < 0 || sqlStop < 0)
        return QString();
    return bundle.left(core + coreEnd.size()) + QStringLiteral(";\n\n")
           + bundle.mid(sql, sqlStop + sqlEnd.size() - sql) + QLatin1Char('\n');
}

QString HighlightEngine::defaultScript()
{
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    const QString shims = read(quarvelDataDir() + QStringLiteral("/highlight/shims.js"));
    const QString cut = cutBundle(read(bundlePath()));
    return shims.isEmpty() || cut.isEmpty() ? QString() : shims + QLatin1Char('\n') + cut;
}

HighlightEngine* HighlightEngine::shared()
{
    static QPointer<HighlightEngine> instance;
    if (!instance)
        instance = new HighlightEngine(defaultScript(), QCoreApplication::instance());
    return instance;
}

bool HighlightEngine::highlight(const QString& text, QString* html)
{
    if (!loaded)
        return false;
    // The text goes in as a string value, never as part of the script's
    // source: nothing in a statement can break or alter the call.
    const QScriptValue result = highlightFunction.call(
        hljsObject, QScriptValueList() << QStringLiteral("sql") << text);
    if (engine->hasUncaughtException()) {
        engine->clearExceptions();
        return false;
    }
    const QScriptValue value = result.property(QStringLiteral("value"));
    if (!value.isString())
        return false;
    *html = value.toString();
    return true;
}

QStringList HighlightEngine::splitStatements(const QString& text)
{
    QStringList pieces;
    const int n = text.size();
    int start = 0;
    int i = 0;
    while (i < n) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            const int end = text.indexOf(c, i + 1);
            i = end < 0 ? n : end + 1;
        } else if (c == QLatin1Char('#')
                   || (c == QLatin1Char('-') && i + 1 < n && text.at(i + 1) == QLatin1Char('-'))) {
            const int end = text.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? n : end;
        } else if (c == QLatin1Char('/') && i + 1 < n && text.at(i + 1) == QLatin1Char('*')) {
            const int end = text.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == QLatin1Char(';')) {
            pieces.append(text.mid(start, i + 1 - start));
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < n)
        pieces.append(text.mid(start));
    return pieces;
}

bool HighlightEngine::highlightScript(const QString& text, QString* html)
{
    const QStringList pieces = splitStatements(text);
    if (pieces.size() < 2)
        return highlight(text, html);
    QString out;
    out.reserve(text.size() * 3);
    for (const QString& piece : pieces) {
        if (const QString* hit = pieceCache.object(piece)) {
            out += *hit;
            continue;
        }
        QString part;
        if (!highlight(piece, &part))
            return false;
        out += part;
        pieceCache.insert(piece, new QString(part), piece.size() + part.size());
    }
    *html = out;
    return true;
}

QString HighlightEngine::expandTabs(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('\t'), QLatin1String("    "));
    return out;
}

QString HighlightEngine::removeLineComments(const QString& html)
{
    if (!html.contains(commentOpen))
        return html;
    QString out;
    out.reserve(html.size());
    int pos = 0;
    for (;;) {
        const int start = html.indexOf(commentOpen, pos);
        if (start < 0)
            break;
        // The comment's own span may hold nested spans (doc tags): find its
        // matching end tag.
        int depth = 1;
        int scan = start + commentOpen.size();
        int end = -1;
        while (scan < html.size()) {
            const int nextOpen = html.indexOf(spanOpen, scan);
            const int nextClose = html.indexOf(spanClose, scan);
            if (nextClose < 0)
                break;
            if (nextOpen >= 0 && nextOpen < nextClose) {
                ++depth;
                scan = nextOpen + spanOpen.size();
                continue;
            }
            if (--depth == 0) {
                end = nextClose + spanClose.size();
                break;
            }
            scan = nextClose + spanClose.size();
        }
        if (end < 0)
            end = html.size();
        int before = start;
        while (before > pos && isBlank(html.at(before - 1)))
            --before;
        while (end < html.size() && isBlank(html.at(end)))
            ++end;
        out += html.midRef(pos, before - pos);
        out += QLatin1Char(' ');
        pos = end;
    }
    out += html.midRef(pos);
    return out;
}

QString HighlightEngine::oneLine(const QString& text)
{
    if (const QString* hit = cache.object(text))
        return *hit;
    QString html;
    if (highlight(expandTabs(text), &html)) {
        html.replace(QLatin1Char('\n'), QLatin1Char(' '));
        html = removeLineComments(html);
    } else {
        html = expandTabs(text);
        html.replace(QLatin1Char('\n'), QLatin1Char(' '));
        html = html.toHtmlEscaped();
    }
    cache.insert(text, new QString(html), text.size() + html.size());
    return html;
}

bool HighlightEngine::paragraphs(const QString& text, QString* result)
{
    QStringList lines;
    if (!paragraphList(text, &lines))
        return false;
    *result = lines.join(QString());
    return true;
}

bool HighlightEngine::paragraphList(const QString& text, QStringList* result)
{
    QString html;
    if (!highlightScript(expandTabs(text), &html))
        return false;

    // One paragraph per line, white space as non-breaking spaces. A span that
    // runs over a line break (a block comment, a string) is closed before it
    // and opened again after it, so each paragraph carries its own colouring.
    // An empty line becomes an empty paragraph that keeps its height.
    result->clear();
    QString line;
    bool lineHasText = false;
    QStringList open;
    auto endLine = [&]() {
        if (lineHasText) {
            QString p;
            p.reserve(line.size() + 16 + open.size() * spanClose.size());
            p += QLatin1String("<p>");
            p += line;
            for (int i = 0; i < open.size(); ++i)
                p += spanClose;
            p += QLatin1String("</p>");
            result->append(p);
        } else {
            result->append(QStringLiteral("<p style=\"-qt-paragraph-type:empty;\"></p>"));
        }
        line.clear();
        for (const QString& tag : qAsConst(open))
            line += tag;
        lineHasText = false;
    };
    int pos = 0;
    const int n = html.size();
    while (pos < n) {
        const QChar c = html.at(pos);
        if (c == QLatin1Char('<')) {
            const int close = html.indexOf(QLatin1Char('>'), pos);
            const int tagEnd = close < 0 ? n : close + 1;
            const QStringRef tag = html.midRef(pos, tagEnd - pos);
            if (tag.startsWith(spanClose)) {
                if (!open.isEmpty())
                    open.removeLast();
            } else if (tag.startsWith(spanOpen)) {
                open.append(tag.toString());
            }
            line += tag;
            pos = tagEnd;
            continue;
        }
        if (c == QLatin1Char('\n')) {
            endLine();
        } else {
            lineHasText = true;
            if (c.isSpace())
                line += QLatin1String("&nbsp;");
            else
                line += c;
        }
        ++pos;
    }
    endLine();
    return true;
}

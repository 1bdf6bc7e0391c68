#include "SqlScript.h"

#include <QRegularExpression>
#include <QVector>

namespace SqlScript {

namespace {

/// One lexical piece of SQL text: [start, end) in the text.
struct Span
{
    enum Kind { Space, Comment, ExecComment, Quoted, Word, Semicolon, Symbol };
    Kind kind;
    int start;
    int end;
};

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') || c.unicode() >= 0x80;
}

/// End of the quoted string opened at `from` by `quote`: after its closing
/// quote, or the end of the text when it is never closed.
int quotedEnd(const QString& s, int from, QChar quote)
{
    const bool escapes = quote != QLatin1Char('`');
    int i = from + 1;
    while (i < s.size()) {
        const QChar c = s.at(i);
        if (escapes && c == QLatin1Char('\\')) {
            i += 2;
            continue;
        }
        if (c == quote) {
            if (i + 1 < s.size() && s.at(i + 1) == quote) {
                i += 2; // doubled quote: part of the string
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return s.size();
}

/// "-- " starts a comment only when white space (or the end) follows the dashes.
bool dashComment(const QString& s, int i)
{
    if (s.at(i) != QLatin1Char('-') || i + 1 >= s.size() || s.at(i + 1) != QLatin1Char('-'))
        return false;
    return i + 2 >= s.size() || s.at(i + 2).isSpace() || s.at(i + 2).unicode() < 0x20;
}

QVector<Span> scan(const QString& s)
{
    QVector<Span> spans;
    int i = 0;
    const int n = s.size();
    while (i < n) {
        const QChar c = s.at(i);
        const int start = i;
        Span::Kind kind;
        if (c.isSpace()) {
            while (i < n && s.at(i).isSpace())
                ++i;
            kind = Span::Space;
        } else if (c == QLatin1Char('#') || dashComment(s, i)) {
            while (i < n && s.at(i) != QLatin1Char('\n'))
                ++i;
            kind = Span::Comment;
        } else if (c == QLatin1Char('/') && i + 1 < n && s.at(i + 1) == QLatin1Char('*')) {
            const bool exec = s.midRef(i + 2, 1) == QLatin1String("!") || s.midRef(i + 2, 2) == QLatin1String("M!");
            const int close = s.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 2;
            kind = exec ? Span::ExecComment : Span::Comment;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            i = quotedEnd(s, i, c);
            kind = Span::Quoted;
        } else if (isWordChar(c)) {
            while (i < n && isWordChar(s.at(i)))
                ++i;
            kind = Span::Word;
        } else {
            ++i;
            kind = c == QLatin1Char(';') ? Span::Semicolon : Span::Symbol;
        }
        spans.append(Span{kind, start, i});
    }
    return spans;
}

bool isCode(Span::Kind k)
{
    return k != Span::Space && k != Span::Comment;
}

/// The significant spans of one statement (no white space, no plain comments)
/// with their texts, for the classifier.
struct Token
{
    Span::Kind kind;
    QString text; ///< upper case for words
    int depth;    ///< parentheses open before the token
};

QVector<Token> tokens(const QString& s)
{
    QVector<Token> out;
    int depth = 0;
    for (const Span& sp : scan(s)) {
        if (!isCode(sp.kind))
            continue;
        const QString text = s.mid(sp.start, sp.end - sp.start);
        if (sp.kind == Span::Symbol && text == QLatin1String(")"))
            depth = qMax(0, depth - 1);
        out.append(Token{sp.kind, sp.kind == Span::Word ? text.toUpper() : text, depth});
        if (sp.kind == Span::Symbol && text == QLatin1String("("))
            ++depth;
    }
    return out;
}

bool isWord(const QVector<Token>& t, int i, const char* word)
{
    return i < t.size() && t.at(i).kind == Span::Word && t.at(i).text == QLatin1String(word);
}

bool readOnlyFrom(const QVector<Token>& t, int i)
{
    // A parenthesised query: "(SELECT …) UNION (SELECT …)".
    while (i < t.size() && t.at(i).kind == Span::Symbol && t.at(i).text == QLatin1String("("))
        ++i;
    if (i >= t.size() || t.at(i).kind != Span::Word)
        return false;
    const QString& first = t.at(i).text;
    if (first == QLatin1String("SHOW") || first == QLatin1String("HELP"))
        return true;
    if (first == QLatin1String("SELECT") || first == QLatin1String("TABLE") || first == QLatin1String("VALUES")) {
        // SELECT … INTO writes files or variables.
        for (int k = i + 1; k < t.size(); ++k)
            if (isWord(t, k, "INTO"))
                return false;
        return true;
    }
    if (first == QLatin1String("EXPLAIN") || first == QLatin1String("DESCRIBE") || first == QLatin1String("DESC")) {
        if (!isWord(t, i + 1, "ANALYZE"))
            return true; // the plan only; nothing runs
        // EXPLAIN ANALYZE runs the statement: judge that one.
        int k = i + 2;
        if (isWord(t, k, "FORMAT")) {
            k += 1;
            if (k < t.size() && t.at(k).text == QLatin1String("="))
                ++k;
            ++k;
        }
        return readOnlyFrom(t, k);
    }
    if (first == QLatin1String("WITH")) {
        // The statement the common table expressions feed is the first
        // statement word outside their parentheses.
        const int depth = t.at(i).depth;
        for (int k = i + 1; k < t.size(); ++k) {
            if (t.at(k).kind != Span::Word || t.at(k).depth != depth)
                continue;
            const QString& w = t.at(k).text;
            if (w == QLatin1String("SELECT") || w == QLatin1String("TABLE") || w == QLatin1String("VALUES"))
                return readOnlyFrom(t, k);
            if (w == QLatin1String("UPDATE") || w == QLatin1String("DELETE") || w == QLatin1String("INSERT")
                || w == QLatin1String("REPLACE"))
                return false;
        }
        return false;
    }
    return false;
}

} // namespace

QStringList splitStatements(const QString& text)
{
    QStringList out;
    int pieceStart = 0;
    bool pieceHasCode = false;
    bool separated = false;
    for (const Span& sp : scan(text)) {
        if (sp.kind == Span::Semicolon) {
            separated = true;
            if (pieceHasCode)
                out.append(text.mid(pieceStart, sp.start - pieceStart).trimmed());
            pieceStart = sp.end;
            pieceHasCode = false;
        } else if (isCode(sp.kind)) {
            pieceHasCode = true;
        }
    }
    if (!separated)
        return pieceHasCode ? QStringList{text} : QStringList{};
    if (pieceHasCode)
        out.append(text.mid(pieceStart).trimmed());
    return out;
}

bool isReadOnly(const QString& statement)
{
    const QVector<Token> t = tokens(statement);
    for (const Token& tok : t)
        if (tok.kind == Span::ExecComment || tok.kind == Span::Semicolon)
            return false; // hidden or further statements: not judged
    return readOnlyFrom(t, 0);
}

bool isReadOnlyScript(const QString& text)
{
    for (const QString& s : splitStatements(text))
        if (!isReadOnly(s))
            return false;
    return true;
}

qint64 utf8Length(const QString& text)
{
    qint64 bytes = 0;
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const ushort u = text.at(i).unicode();
        if (u < 0x80)
            bytes += 1;
        else if (u < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            bytes += 4;
            ++i;
        } else
            bytes += 3; // a lone surrogate is written as the replacement character
    }
    return bytes;
}

ServerVersion ServerVersion::parse(const QString& text)
{
    ServerVersion v;
    QString t = text.trimmed();
    v.mariaDb = t.contains(QLatin1String("mariadb"), Qt::CaseInsensitive);
    // Some MariaDB servers put "5.5.5-" before their own version.
    static const QRegularExpression replPrefix(QStringLiteral("^5\\.5\\.5-(?=\\d)"));
    if (v.mariaDb)
        t.remove(replPrefix);
    static const QRegularExpression number(QStringLiteral("^(\\d+)\\.(\\d+)(?:\\.(\\d+))?"));
    const QRegularExpressionMatch m = number.match(t);
    if (!m.hasMatch())
        return v;
    v.major = m.captured(1).toInt();
    v.minor = m.captured(2).toInt();
    v.patch = m.captured(3).toInt();
    v.valid = true;
    return v;
}

bool ServerVersion::supportsJsonExplain() const
{
    if (!valid)
        return false;
    const int n = major * 10000 + minor * 100 + patch;
    return mariaDb ? n >= 100100 : n >= 50605;
}

} // namespace SqlScript

#include "Fingerprint.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

/// The words written in upper case: reserved words, the words statements
/// start with, and the functions applications call most.
const char* const sqlWords =
    "ACCESSIBLE ADD AFTER AGAINST ALL ALTER ANALYZE AND AS ASC ASCII AUTO_INCREMENT AVG BEFORE BEGIN BETWEEN BIGINT "
    "BINARY BLOB BOOLEAN BOTH BY CALL CASCADE CASE CAST CHANGE CHAR CHARACTER CHARSET CHECK COALESCE COLLATE COLUMN "
    "COLUMNS COMMIT CONCAT CONCAT_WS CONSTRAINT CONVERT COUNT CREATE CROSS CURDATE CURRENT_DATE CURRENT_TIME "
    "CURRENT_TIMESTAMP CURRENT_USER CURSOR DATABASE DATABASES DATE_ADD DATE_FORMAT DATE_SUB DAY_HOUR DAY_MINUTE "
    "DAY_SECOND DEC DECIMAL DECLARE DEFAULT DELAYED DELETE DESC DESCRIBE DISTINCT DISTINCTROW DIV DO DOUBLE DROP "
    "DUAL DUPLICATE EACH ELSE ELSEIF ENCLOSED END ENGINE ESCAPED EXECUTE EXISTS EXIT EXPLAIN FALSE FETCH FIELDS "
    "FLOAT FLUSH FOR FORCE FOREIGN FOUND_ROWS FROM FULL FULLTEXT FUNCTION GLOBAL GRANT GROUP GROUP_CONCAT HAVING "
    "HIGH_PRIORITY HOUR_MINUTE HOUR_SECOND IF IFNULL IGNORE IN INDEX INFILE INNER INOUT INSERT INT INTEGER INTERVAL "
    "INTO IS ISNULL ITERATE JOIN KEY KEYS KILL LAST_INSERT_ID LEADING LEAVE LEFT LENGTH LIKE LIMIT LINEAR LOAD "
    "LOCAL LOCALTIME LOCALTIMESTAMP LOCK LONG LOOP LOW_PRIORITY LOWER MATCH MAX MEDIUMINT MIN MOD MODE MODIFIES "
    "NAMES NATURAL NOT NOW NULL NULLIF OFFSET ON OPTIMIZE OPTION OPTIONALLY OR ORDER OUT OUTER OUTFILE PRIMARY "
    "PROCEDURE PURGE QUICK RANGE READ READS REGEXP RELEASE RENAME REPEAT REPLACE REQUIRE RESIGNAL RESTRICT RETURN "
    "REVOKE RIGHT RLIKE ROLLBACK ROUND SAVEPOINT SCHEMA SCHEMAS SELECT SEPARATOR SESSION SET SHARE SHOW SIGNAL "
    "SLEEP SMALLINT SPATIAL SQL_CALC_FOUND_ROWS SQL_NO_CACHE START STATUS STRAIGHT_JOIN SUBSTRING SUM TABLE TABLES "
    "TERMINATED THEN TIMESTAMP TINYINT TO TRAILING TRANSACTION TRIGGER TRIM TRUE TRUNCATE UNION UNIQUE UNLOCK "
    "UNSIGNED UPDATE UPPER USAGE USE USING UTC_TIMESTAMP VALUE VALUES VARCHAR VARIABLES VIEW WHEN WHERE WHILE WITH "
    "WORK WRITE XOR YEAR_MONTH ZEROFILL";

constexpr int MaxWord = 24;

/// Open-addressing set of the words above, by their upper-case ASCII form.
class WordSet
{
public:
    WordSet() : slots(Size)
    {
        const char* p = sqlWords;
        while (*p) {
            const char* e = p;
            while (*e && *e != ' ')
                ++e;
            insert(std::string(p, size_t(e - p)));
            p = *e ? e + 1 : e;
        }
    }

    static quint32 hash(const char* s, int n)
    {
        quint32 h = 2166136261u;
        for (int i = 0; i < n; ++i)
            h = (h ^ quint8(s[i])) * 16777619u;
        return h;
    }

    bool contains(const char* s, int n) const
    {
        for (quint32 i = hash(s, n) & (Size - 1);; i = (i + 1) & (Size - 1)) {
            const std::string& w = slots[i];
            if (w.empty())
                return false;
            if (int(w.size()) == n && std::memcmp(w.data(), s, size_t(n)) == 0)
                return true;
        }
    }

private:
    static constexpr quint32 Size = 2048;
    void insert(const std::string& w)
    {
        quint32 i = hash(w.data(), int(w.size())) & (Size - 1);
        while (!slots[i].empty())
            i = (i + 1) & (Size - 1);
        slots[i] = w;
    }
    std::vector<std::string> slots;
};

const WordSet& words()
{
    static const WordSet set;
    return set;
}

inline bool isSpace(ushort c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
inline bool isDigit(ushort c) { return c >= '0' && c <= '9'; }
inline bool isHex(ushort c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline bool isWordChar(ushort c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_' || c == '$' || c >= 0x80;
}

/// What the last written token was, for spacing and for telling a sign from a subtraction.
enum class Tok { None, Word, Keyword, Value, Open, Close, Comma, Op };
/// What an open parenthesis starts.
enum class Paren { Other, InList, ValuesRow };

class Writer
{
public:
    explicit Writer(const QString& in) : s(reinterpret_cast<const ushort*>(in.constData())), n(in.size())
    {
        out.resize(2 * n + 16);
        d = reinterpret_cast<ushort*>(out.data());
    }

    QString run()
    {
        int i = 0;
        while (i < n)
            i = step(i);
        // no trailing blank is ever written; drop trailing semicolons
        while (len > 0 && (d[len - 1] == ';' || d[len - 1] == ' '))
            --len;
        out.truncate(len);
        return out;
    }

private:
    const ushort* s;
    const int n;
    QString out;
    ushort* d = nullptr;
    int len = 0;
    Tok prev = Tok::None;
    bool gap = false;           ///< white space or a comment since the last token
    bool prevIn = false;        ///< the last token was the keyword IN
    bool prevValues = false;    ///< the last token was VALUES or VALUE
    struct Open { int at; Paren kind; };
    std::vector<Open> parens;
    /// The last VALUES row written [rowStart, rowEnd) while only ", (" may follow it.
    int rowStart = -1, rowEnd = -1;
    int rowState = 0;           ///< 1: a row just closed; 2: and a comma followed

    void space(Tok cur, ushort first)
    {
        if (len == 0 || prev == Tok::Open)
            return;
        if (cur == Tok::Comma || cur == Tok::Close || first == ';')
            return;
        if (prev == Tok::Comma || gap)
            d[len++] = ' ';
    }

    void begin(Tok cur, ushort first)
    {
        space(cur, first);
        gap = false;
        prevIn = prevValues = false;
        if (cur != Tok::Comma && cur != Tok::Open)
            rowState = 0;
    }

    void value()
    {
        begin(Tok::Value, '?');
        d[len++] = '?';
        prev = Tok::Value;
    }

    /// Past the quoted text starting at `i` (the quote), with its escapes.
    int skipQuoted(int i) const
    {
        const ushort q = s[i++];
        while (i < n) {
            const ushort c = s[i];
            if (c == '\\' && q != '`') {
                i += 2;
            } else if (c == q) {
                if (i + 1 < n && s[i + 1] == q)
                    i += 2;
                else
                    return i + 1;
            } else {
                ++i;
            }
        }
        return n;
    }

    /// Past the number starting at `i` (a digit, or "." and a digit).
    int skipNumber(int i) const
    {
        while (i < n && isDigit(s[i]))
            ++i;
        if (i < n && s[i] == '.') {
            ++i;
            while (i < n && isDigit(s[i]))
                ++i;
        }
        if (i < n && (s[i] == 'e' || s[i] == 'E')) {
            int j = i + 1;
            if (j < n && (s[j] == '+' || s[j] == '-'))
                ++j;
            if (j < n && isDigit(s[j])) {
                i = j;
                while (i < n && isDigit(s[i]))
                    ++i;
            }
        }
        return i;
    }

    bool startsNumber(int i) const
    {
        return i < n && (isDigit(s[i]) || (s[i] == '.' && i + 1 < n && isDigit(s[i + 1])));
    }

    void copy(int from, int to, Tok cur)
    {
        begin(cur, s[from]);
        std::memcpy(d + len, s + from, size_t(to - from) * sizeof(ushort));
        len += to - from;
        prev = cur;
    }

    int word(int i)
    {
        int e = i;
        while (e < n && isWordChar(s[e]))
            ++e;
        // X'..', B'..', N'..' and introducers such as _utf8mb4'..' are literals
        if (e < n && (s[e] == '\'' || s[e] == '"')
            && ((e - i == 1 && (s[i] == 'x' || s[i] == 'X' || s[i] == 'b' || s[i] == 'B' || s[i] == 'n' || s[i] == 'N'))
                || s[i] == '_')) {
            value();
            return skipQuoted(e);
        }
        // 0x1F and 0b101
        if (e - i > 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'b')) {
            bool lit = true;
            for (int k = i + 2; k < e && lit; ++k)
                lit = s[i + 1] == 'x' ? isHex(s[k]) : (s[k] == '0' || s[k] == '1');
            if (lit) {
                value();
                return e;
            }
        }
        char up[MaxWord];
        const int wn = e - i;
        // a name after "." or "@" is never a keyword
        bool ascii = wn <= MaxWord && !(len > 0 && !gap && (d[len - 1] == '.' || d[len - 1] == '@'));
        for (int k = 0; k < wn && ascii; ++k) {
            const ushort c = s[i + k];
            if (c >= 'a' && c <= 'z')
                up[k] = char(c - 32);
            else if ((c >= 'A' && c <= 'Z') || c == '_')
                up[k] = char(c);
            else
                ascii = false;
        }
        if (ascii && words().contains(up, wn)) {
            const bool isValue = (wn == 4 && (!std::memcmp(up, "NULL", 4) || !std::memcmp(up, "TRUE", 4)))
                                 || (wn == 5 && !std::memcmp(up, "FALSE", 5));
            const Tok cur = isValue ? Tok::Value : Tok::Keyword;
            begin(cur, s[i]);
            for (int k = 0; k < wn; ++k)
                d[len++] = ushort(up[k]);
            prev = cur;
            prevIn = wn == 2 && up[0] == 'I' && up[1] == 'N';
            prevValues = (wn == 6 && !std::memcmp(up, "VALUES", 6)) || (wn == 5 && !std::memcmp(up, "VALUE", 5));
            return e;
        }
        copy(i, e, Tok::Word);
        return e;
    }

    void open()
    {
        Paren kind = Paren::Other;
        if (prevIn)
            kind = Paren::InList;
        else if (prevValues || rowState == 2)
            kind = Paren::ValuesRow;
        if (prevValues)
            rowStart = rowEnd = -1;   // the first row of a VALUES list
        begin(Tok::Open, '(');
        rowState = 0;
        parens.push_back({len, kind});
        d[len++] = '(';
        prev = Tok::Open;
    }

    void close()
    {
        begin(Tok::Close, ')');
        d[len++] = ')';
        prev = Tok::Close;
        if (parens.empty())
            return;
        const Open p = parens.back();
        parens.pop_back();
        if (p.kind == Paren::InList) {
            bool onlyValues = len - p.at > 2;
            for (int k = p.at + 1; k < len - 1 && onlyValues; ++k)
                onlyValues = d[k] == '?' || d[k] == ',' || d[k] == ' ';
            if (onlyValues) {
                len = p.at + 1;
                d[len++] = '.';
                d[len++] = '.';
                d[len++] = '.';
                d[len++] = ')';
            }
        } else if (p.kind == Paren::ValuesRow) {
            if (rowStart >= 0 && len - p.at == rowEnd - rowStart
                && std::memcmp(d + p.at, d + rowStart, size_t(len - p.at) * sizeof(ushort)) == 0) {
                len = rowEnd;   // the same row again: written once
            } else {
                rowStart = p.at;
                rowEnd = len;
            }
            rowState = 1;
        }
    }

    /// Handles the token starting at `i`; returns where the next one starts.
    int step(int i)
    {
        const ushort c = s[i];
        if (isSpace(c)) {
            gap = true;
            return i + 1;
        }
        if (c == '\'' || c == '"') {
            value();
            return skipQuoted(i);
        }
        if (c == '`') {
            const int e = skipQuoted(i);
            copy(i, e, Tok::Word);
            return e;
        }
        if (c == '#' || (c == '-' && i + 1 < n && s[i + 1] == '-' && (i + 2 >= n || s[i + 2] <= ' '))) {
            while (i < n && s[i] != '\n')
                ++i;
            gap = true;
            return i;
        }
        if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            int e = i + 2;
            while (e + 1 < n && !(s[e] == '*' && s[e + 1] == '/'))
                ++e;
            e = e + 1 < n ? e + 2 : n;
            const bool kept = i + 2 < n && (s[i + 2] == '!' || s[i + 2] == '+'
                                            || (s[i + 2] == 'M' && i + 3 < n && s[i + 3] == '!'));
            if (kept)
                copy(i, e, Tok::Word);
            else
                gap = true;
            return e;
        }
        if (startsNumber(i)) {
            const int e = skipNumber(i);
            if (e < n && isWordChar(s[e]))
                return word(i);   // a name that starts with digits, or 0x…/0b…
            value();
            return e;
        }
        if (isWordChar(c))
            return word(i);
        if ((c == '-' || c == '+') && (prev == Tok::None || prev == Tok::Op || prev == Tok::Open
                                       || prev == Tok::Comma || prev == Tok::Keyword)) {
            int j = i + 1;
            while (j < n && isSpace(s[j]))
                ++j;
            if (startsNumber(j)) {
                const int e = skipNumber(j);
                if (e >= n || !isWordChar(s[e])) {
                    value();
                    return e;
                }
            }
        }
        if (c == '?') {
            value();
            return i + 1;
        }
        if (c == '(') {
            open();
            return i + 1;
        }
        if (c == ')') {
            close();
            return i + 1;
        }
        if (c == ',') {
            const int state = rowState;
            begin(Tok::Comma, ',');
            d[len++] = ',';
            prev = Tok::Comma;
            rowState = state == 1 ? 2 : 0;
            return i + 1;
        }
        begin(Tok::Op, c);
        d[len++] = c;
        prev = Tok::Op;
        return i + 1;
    }
};

bool isModifier(const QString& w)
{
    static const QStringList mods{QStringLiteral("LOW_PRIORITY"), QStringLiteral("QUICK"), QStringLiteral("IGNORE"),
                                  QStringLiteral("DELAYED"), QStringLiteral("HIGH_PRIORITY"), QStringLiteral("FROM"),
                                  QStringLiteral("IF"), QStringLiteral("NOT"), QStringLiteral("EXISTS"),
                                  QStringLiteral("TABLE"), QStringLiteral("ONLY")};
    return mods.contains(w);
}

/// The pattern cut into words, backquoted names, and single characters.
QStringList tokens(const QString& p)
{
    QStringList t;
    const int n = p.size();
    for (int i = 0; i < n;) {
        const ushort c = p.at(i).unicode();
        if (c == ' ') {
            ++i;
        } else if (c == '`') {
            int e = i + 1;
            while (e < n && !(p.at(e) == QLatin1Char('`') && (e + 1 >= n || p.at(e + 1) != QLatin1Char('`'))))
                e += p.at(e) == QLatin1Char('`') ? 2 : 1;
            t << p.mid(i, qMin(e + 1, n) - i);
            i = e + 1;
        } else if (isWordChar(c)) {
            int e = i;
            while (e < n && isWordChar(p.at(e).unicode()))
                ++e;
            t << p.mid(i, e - i);
            i = e;
        } else {
            t << QString(p.at(i));
            ++i;
        }
    }
    return t;
}

bool isName(const QString& tok)
{
    if (tok.startsWith(QLatin1Char('`')))
        return true;
    if (tok.isEmpty() || !isWordChar(tok.at(0).unicode()))
        return false;
    // upper-case keywords are SQL, anything else a name
    QByteArray up = tok.toLatin1();
    return up.size() > MaxWord || !words().contains(up.constData(), up.size()) || tok != tok.toUpper();
}

QString unquote(const QString& name)
{
    if (!name.startsWith(QLatin1Char('`')))
        return name;
    return name.mid(1, name.size() - 2).replace(QStringLiteral("``"), QStringLiteral("`"));
}

} // namespace

namespace Fingerprint {

QString of(const QString& statement)
{
    return Writer(statement).run();
}

QStringList tables(const QString& pattern)
{
    static const QStringList after{QStringLiteral("FROM"), QStringLiteral("JOIN"), QStringLiteral("UPDATE"),
                                   QStringLiteral("INTO"), QStringLiteral("TABLE"), QStringLiteral("DESCRIBE"),
                                   QStringLiteral("DESC"), QStringLiteral("DELETE")};
    const QStringList t = tokens(pattern);
    QStringList out;
    const auto nameAt = [&](int& i) -> QString {
        if (i >= t.size() || !isName(t.at(i)))
            return QString();
        QString name = unquote(t.at(i++));
        while (i + 1 < t.size() && t.at(i) == QLatin1String(".") && isName(t.at(i + 1))) {
            name += QLatin1Char('.') + unquote(t.at(i + 1));
            i += 2;
        }
        return name;
    };
    for (int i = 0; i < t.size(); ++i) {
        if (!after.contains(t.at(i)))
            continue;
        const bool from = t.at(i) == QLatin1String("FROM");
        int j = i + 1;
        while (j < t.size() && isModifier(t.at(j)))
            ++j;
        QString name = nameAt(j);
        while (!name.isEmpty()) {
            if (!out.contains(name))
                out << name;
            if (!from)
                break;
            // FROM a [AS] x, b [AS] y
            if (j < t.size() && t.at(j) == QLatin1String("AS"))
                ++j;
            if (j < t.size() && isName(t.at(j)))
                ++j;
            if (j + 1 >= t.size() || t.at(j) != QLatin1String(","))
                break;
            ++j;
            name = nameAt(j);
        }
    }
    return out;
}

} // namespace Fingerprint

#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QTime>
#include <QVariantList>

class QTextCodec;

/// A statement's percent of its session's total statement time. The
/// session's records follow the running total (follow()) and work the
/// percent out whenever it is read, so that a new batch changes the share of
/// every earlier statement without touching them. A value assigned, or a
/// copy, is a plain number that stays as it is.
class ShareOfTotal
{
public:
    ShareOfTotal() = default;
    ShareOfTotal(float value) : fixed(value) {}
    ShareOfTotal(const ShareOfTotal& other) : fixed(other) {}
    ShareOfTotal& operator=(const ShareOfTotal& other)
    {
        const float value = other;
        part = total = nullptr;
        fixed = value;
        return *this;
    }
    ShareOfTotal& operator=(float value)
    {
        part = total = nullptr;
        fixed = value;
        return *this;
    }

    /// From now on the share is `*partMs / *totalMs` in percent (0 while
    /// the total is 0); both must outlive this object.
    void follow(const double* partMs, const double* totalMs)
    {
        part = partMs;
        total = totalMs;
    }

    operator float() const
    {
        if (!total)
            return fixed;
        return *total != 0.0 ? float(*part / *total * 100.0) : 0.0f;
    }

private:
    const double* part = nullptr;
    const double* total = nullptr;
    float fixed = 0.0f;
};

/// One captured statement. A plain record owned by its SessionData;
/// written and read in the GUI thread only.
struct Query
{
    QString text;              ///< the statement, decoded with the session's codec at capture time
    double durationMs = 0.0;   ///< from the first request byte to the forwarded answer, in ms
    ShareOfTotal shareOfTotal; ///< percent of the session's total statement time
    int percentOfMax = 0;      ///< percent of the session's slowest statement, rounded (halves up)
    unsigned int rows = 0;     ///< rows returned
    float responseKb = 0.0f;   ///< KiB of row data returned
    float requestKb = 0.0f;    ///< KiB of statement sent
    QString dbName;            ///< the session's current database when the statement was recorded
    bool isError = false;      ///< the server answered with an error packet
    QDateTime finishedAt;      ///< when the answer was decoded
};

/// One captured client connection and its statement log. A plain record;
/// written and read in the GUI thread only. Deleting a SessionData deletes
/// every Query of its log.
struct SessionData
{
    SessionData();
    ~SessionData();
    SessionData(const SessionData&) = delete;
    SessionData& operator=(const SessionData&) = delete;

    QDateTime startedAt;           ///< when the connection was accepted
    unsigned long id = 0;          ///< session number, given by the session manager
    QString dbName;                ///< database of the login, else the first one selected; empty if none
    QString userName;
    QTime duration;                ///< lifetime as a time of day (00:00:00.000 + lifetime); null while open
    unsigned int rowsTotal = 0;
    float responseKbTotal = 0.0f;
    float requestKbTotal = 0.0f;
    double durationMsTotal = 0.0;  ///< sum of the statement times in ms, what the shares are taken of
    bool authenticated = false;
    QTextCodec* codec = nullptr;   ///< decodes statement bytes; "utf8" at start, changed by SET NAMES
    QList<Query*> queries;         ///< the log, in the order the statements were answered
};

Q_DECLARE_METATYPE(SessionData*)

/// Helpers that turn the decoder's query tuples into records. GUI thread only.
namespace QueryLog {

/// A session number as every list, tab, archive and report shows it: filled
/// to 7 digits with "0" (more digits when larger). [thread-safe]
QString paddedId(quint64 id);

/// Number of elements of a query tuple: answered at, duration ms, raw
/// statement bytes, request KiB, response KiB, rows, error flag.
constexpr int TupleSize = 7;

/// A new Query from a tuple, its text decoded with `codec` (UTF-8 when null).
/// A tuple of another size yields a record with the elements it has.
Query* fromTuple(const QVariantList& tuple, QTextCodec* codec);

/// The database a USE statement switches to (quotes and backquotes removed),
/// or a null string when `text` is no USE statement.
QString useTarget(const QString& text);

/// The character set named by a SET NAMES statement (up to a COLLATE clause,
/// quotes and backquotes removed), or a null string when `text` is none.
QString setNamesCharset(const QString& text);

/// The codec of a character set name; the "utf8" codec when Qt has none of that name.
QTextCodec* codecForCharset(const QString& charset);

} // namespace QueryLog

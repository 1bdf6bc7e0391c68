#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QTime>
#include <QVariantList>

#include "StatementLog.h"

class QTextCodec;

/// One captured client connection and its statement log. A plain record;
/// written and read in the GUI thread only. The statement log belongs to
/// the record.
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
    double durationMsMax = 1.0;    ///< the slowest statement in ms (at least 1 ms), what the percents are taken of
    bool authenticated = false;
    QTextCodec* codec = nullptr;   ///< decodes statement bytes; "utf8" at start, changed by SET NAMES
    StatementLog queries;          ///< the log, in the order the statements were answered
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

/// A Query from a tuple, its text decoded with `codec` (UTF-8 when null).
/// A tuple of another size yields a record with the elements it has.
Query fromTuple(const QVariantList& tuple, QTextCodec* codec);

/// The database a USE statement switches to (quotes and backquotes removed),
/// or a null string when `text` is no USE statement.
QString useTarget(const QString& text);

/// The character set named by a SET NAMES statement (up to a COLLATE clause,
/// quotes and backquotes removed), or a null string when `text` is none.
QString setNamesCharset(const QString& text);

/// The codec of a character set name; the "utf8" codec when Qt has none of that name.
QTextCodec* codecForCharset(const QString& charset);

} // namespace QueryLog

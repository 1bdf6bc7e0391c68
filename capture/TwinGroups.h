#pragma once

#include <QList>
#include <QString>
#include <QVector>

class StatementLog;

/// One group of statements sent with exactly the same text.
struct TwinElement
{
    QString text;    ///< the statement text as recorded
    QString numbers; ///< 1-based positions in the session, in session order, joined by ", "
    int count = 0;   ///< number of occurrences
};

namespace TwinGroups {

/// Groups statements by exact text (letter case, blanks and line breaks
/// count), in order of first occurrence. Linear in the number of statements:
/// a hash leads from a text to its group. The groups hold copies of the
/// texts, so they outlive the records. Statements released from the log
/// are not there to group; positions stay those of the whole session.
/// [thread-safe: reads only]
QVector<TwinElement> group(const StatementLog& queries);

/// The groups of `groups` with at least two occurrences, in the same order.
QVector<TwinElement> repeated(const QVector<TwinElement>& groups);

} // namespace TwinGroups

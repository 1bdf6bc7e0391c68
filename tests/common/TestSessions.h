#pragma once
// Session records made by hand, as the capture leaves them.

#include "SessionData.h"

#include <QStringList>

/// A session record numbered `id` (on the heap, so that a test can drop it)
/// with `texts` as its statements; a text starting with "!" failed (the "!"
/// removed).
inline SessionData* sessionOf(const QStringList& texts, unsigned long id = 42)
{
    auto* s = new SessionData;
    s->id = id;
    for (const QString& t : texts) {
        auto* q = new Query;
        q->isError = t.startsWith(QLatin1Char('!'));
        q->text = q->isError ? t.mid(1) : t;
        s->queries.append(q);
    }
    return s;
}

/// The statement texts of a record, in its order.
inline QStringList textsOf(const SessionData* s)
{
    QStringList out;
    for (const Query* q : s->queries)
        out << q->text;
    return out;
}

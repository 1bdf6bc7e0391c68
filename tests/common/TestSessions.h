#pragma once
// Session records made by hand, as the capture leaves them.

#include "SessionData.h"

#include <QStringList>

#include <functional>

/// A session record numbered `id` (on the heap, so that a test can drop it)
/// with `texts` as its statements; a text starting with "!" failed (the "!"
/// removed). `fill` sets the other figures of statement i.
inline SessionData* sessionOf(const QStringList& texts, unsigned long id = 42,
                              const std::function<void(Query&, int)>& fill = {})
{
    auto* s = new SessionData;
    s->id = id;
    for (int i = 0; i < texts.size(); ++i) {
        Query q;
        q.isError = texts.at(i).startsWith(QLatin1Char('!'));
        q.text = q.isError ? texts.at(i).mid(1) : texts.at(i);
        if (fill)
            fill(q, i);
        s->queries.append(q);
    }
    return s;
}

/// The statement texts of a record, in its order.
inline QStringList textsOf(const SessionData* s)
{
    QStringList out;
    for (const Query& q : s->queries)
        out << q.text;
    return out;
}

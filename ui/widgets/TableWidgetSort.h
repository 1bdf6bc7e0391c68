#pragma once

// Value parsing shared by the sortable table items. [thread-safe]

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace TableWidgetSort {

inline QDateTime parseDate(const QString& text)
{
    QDateTime when = QDateTime::fromString(text.trimmed(), QStringLiteral("dd.MM.yy hh:mm"));
    // "yy" reads as 19yy; the archive's dates are of this century.
    if (when.isValid())
        when = when.addYears(100);
    return when;
}

/// Texts without a readable value sort before all others, among themselves by text.
template <typename T, typename Parse>
bool lessByValue(const QString& a, const QString& b, Parse parse)
{
    bool okA = false;
    bool okB = false;
    const T va = parse(a, &okA);
    const T vb = parse(b, &okB);
    if (okA && okB)
        return va < vb;
    if (okA != okB)
        return okB;
    return a < b;
}

inline qlonglong parseInt(const QString& text, bool* ok)
{
    const QString t = text.trimmed();
    qlonglong v = t.toLongLong(ok);
    if (!*ok)
        v = QLocale().toLongLong(t, ok);
    return v;
}

inline double parseDouble(const QString& text, bool* ok)
{
    const QString t = text.trimmed();
    double v = t.toDouble(ok);
    if (!*ok)
        v = QLocale().toDouble(t, ok);
    return v;
}

} // namespace TableWidgetSort

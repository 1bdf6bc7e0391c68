#include "ArchiveFormat.h"

#include "SessionData.h"

namespace ArchiveFormat {

QString sessionId(quint64 id)
{
    return QueryLog::paddedId(id);
}

quint64 readSessionId(const QString& text)
{
    bool ok = false;
    const quint64 id = text.trimmed().toULongLong(&ok);
    return ok ? id : 0;
}

QString startedAt(const QDateTime& when)
{
    return when.toString(QStringLiteral("dd.MM.yy hh:mm"));
}

QDateTime readStartedAt(const QString& text)
{
    // Read by hand: a list of thousands of sessions reads every date, and
    // QDateTime::fromString() with a format is slow.
    const QString t = text.trimmed();
    static const char pattern[] = "00.00.00 00:00";
    if (t.size() != int(sizeof(pattern)) - 1)
        return QDateTime();
    for (int i = 0; i < t.size(); ++i) {
        const bool digit = pattern[i] == '0';
        if (digit ? !t.at(i).isDigit() || t.at(i).unicode() > '9' : t.at(i) != QLatin1Char(pattern[i]))
            return QDateTime();
    }
    const auto two = [&t](int at) { return (t.at(at).unicode() - '0') * 10 + (t.at(at + 1).unicode() - '0'); };
    // Two-digit years: saved sessions are of this century.
    const QDate date(2000 + two(6), two(3), two(0));
    const QTime time(two(9), two(12));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

QString elapsed(const QTime& duration)
{
    return duration.isNull() ? QString() : duration.toString(QStringLiteral("hh:mm:ss.zzz"));
}

QTime readElapsed(const QString& text)
{
    return QTime::fromString(text.trimmed(), QStringLiteral("hh:mm:ss.zzz"));
}

QString localeKb(double value, const QLocale& locale)
{
    return locale.toString(value, 'f', 3);
}

double readLocaleKb(const QString& text, const QLocale& locale, bool* ok)
{
    const QString t = text.trimmed();
    bool read = false;
    // Group separators are refused: "14.250" written in the C locale would
    // otherwise read as 14250 where '.' groups thousands.
    QLocale strict = locale;
    strict.setNumberOptions(strict.numberOptions() | QLocale::RejectGroupSeparator);
    double value = strict.toDouble(t, &read);
    if (!read) {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        value = c.toDouble(t, &read);
    }
    if (!read) {
        // Written with 3 decimals under some locale, perhaps with group
        // separators ("1,234.500", "1.234,500", "1 234,500").
        int sep = -1;
        for (int i = t.size() - 1; i >= 0; --i)
            if (!t.at(i).isDigit()) {
                sep = i;
                break;
            }
        if (sep > 0 && t.size() - sep - 1 == 3) {
            QString digits;
            for (int i = 0; i < sep; ++i) {
                const QChar c = t.at(i);
                if (c.isDigit())
                    digits += QChar(QLatin1Char(char('0' + c.digitValue())));
                else if (c == QLatin1Char('-') && digits.isEmpty())
                    digits += c;
            }
            digits += QLatin1Char('.');
            for (int i = sep + 1; i < t.size(); ++i)
                digits += QChar(QLatin1Char(char('0' + t.at(i).digitValue())));
            value = digits.toDouble(&read);
        }
    }
    if (ok)
        *ok = read;
    return read ? value : 0.0;
}

QString fixed3(double value)
{
    return QString::number(value, 'f', 3);
}

QString positive3(double value)
{
    return value > 0 ? fixed3(value) : QStringLiteral("0");
}

} // namespace ArchiveFormat

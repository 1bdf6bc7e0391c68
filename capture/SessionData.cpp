#include "SessionData.h"

#include <QTextCodec>

SessionData::SessionData()
    : codec(QTextCodec::codecForName("utf8"))
{
}

SessionData::~SessionData() = default;

namespace QueryLog {

QString paddedId(quint64 id)
{
    return QStringLiteral("%1").arg(id, 7, 10, QLatin1Char('0'));
}

Query fromTuple(const QVariantList& tuple, QTextCodec* codec)
{
    Query r;
    Query* q = &r;
    const int n = tuple.size();
    if (n > 0)
        q->finishedAt = tuple.at(0).toDateTime();
    if (n > 1)
        q->durationMs = tuple.at(1).toDouble();
    if (n > 2) {
        const QByteArray raw = tuple.at(2).toByteArray();
        q->text = codec ? codec->toUnicode(raw) : QString::fromUtf8(raw);
    }
    if (n > 3)
        q->requestKb = tuple.at(3).toFloat();
    if (n > 4)
        q->responseKb = tuple.at(4).toFloat();
    if (n > 5)
        q->rows = tuple.at(5).toUInt();
    if (n > 6)
        q->isError = tuple.at(6).toBool();
    return r;
}

static QString withoutQuotes(QString s)
{
    s.remove(QLatin1Char('\''));
    s.remove(QLatin1Char('"'));
    s.remove(QLatin1Char('`'));
    return s;
}

QString useTarget(const QString& text)
{
    if (!text.startsWith(QLatin1String("use"), Qt::CaseInsensitive))
        return QString();
    return withoutQuotes(text.mid(4).trimmed());
}

QString setNamesCharset(const QString& text)
{
    if (!text.startsWith(QLatin1String("set names"), Qt::CaseInsensitive))
        return QString();
    QString rest = text.mid(10);
    const int collate = rest.indexOf(QLatin1String("collate"), 0, Qt::CaseInsensitive);
    if (collate >= 0)
        rest.truncate(collate);
    return withoutQuotes(rest.trimmed());
}

QTextCodec* codecForCharset(const QString& charset)
{
    QTextCodec* codec = charset.isEmpty() ? nullptr : QTextCodec::codecForName(charset.toLatin1());
    return codec ? codec : QTextCodec::codecForName("utf8");
}

} // namespace QueryLog

#include "ExplainAnalyzer.h"

#include "ResultSet.h"

#include <QStringList>

#include <iterator>

namespace ExplainAnalyzer {

namespace {
const char* const defaultAddress = "https://mariadb.org";
const char* const fields[] = {"id", "select_type", "table", "type", "possible_keys",
                              "key", "key_len", "ref", "rows", "Extra"};
} // namespace

QString baseAddress()
{
    const QString env = QString::fromLocal8Bit(qgetenv("QUARVEL_EXPLAIN_ANALYZER_URL")).trimmed();
    QString base = env.isEmpty() ? QString::fromLatin1(defaultAddress) : env;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

QString textTable(const ResultSet& explain)
{
    QString out = QStringLiteral("+\n|id|select_type|table|type|possible_keys|key|key_len|ref|rows|Extra|\n");
    int columns[std::size(fields)];
    for (size_t f = 0; f < std::size(fields); ++f) {
        columns[f] = -1;
        for (int c = 0; c < explain.columnCount(); ++c)
            if (explain.columns.at(c).compare(QLatin1String(fields[f]), Qt::CaseInsensitive) == 0) {
                columns[f] = c;
                break;
            }
    }
    for (int r = 0; r < explain.rowCount(); ++r) {
        out += QStringLiteral("+\n|");
        for (int c : columns) {
            if (c >= 0 && !explain.isNull(r, c))
                out += explain.rows.at(r).at(c).toString();
            out += QLatin1Char('|');
        }
        out += QLatin1Char('\n');
    }
    return out;
}

QUrl url(const ResultSet& explain)
{
    QUrl u(baseAddress() + QStringLiteral("/explain_analyzer/api/1/"));
    u.setQuery(QStringLiteral("raw_explain=") + QString::fromLatin1(QUrl::toPercentEncoding(textTable(explain)))
                   + QStringLiteral("&client=Quarvel"),
               QUrl::StrictMode);
    return u;
}

} // namespace ExplainAnalyzer

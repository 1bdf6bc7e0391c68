#include "TwinGroups.h"

#include "SessionData.h"

#include <QHash>

namespace TwinGroups {

QVector<TwinElement> group(const StatementLog& queries)
{
    QVector<TwinElement> groups;
    QHash<QString, int> byText;
    byText.reserve(queries.kept());
    const QString separator = QStringLiteral(", ");
    for (int i = queries.released(); i < queries.size(); ++i) {
        const QString text = queries.text(i);
        const auto found = byText.constFind(text);
        if (found != byText.constEnd()) {
            TwinElement& g = groups[found.value()];
            ++g.count;
            g.numbers += separator;
            g.numbers += QString::number(i + 1);
            continue;
        }
        byText.insert(text, groups.size());
        groups.append(TwinElement{text, QString::number(i + 1), 1});
    }
    return groups;
}

QVector<TwinElement> repeated(const QVector<TwinElement>& groups)
{
    QVector<TwinElement> out;
    for (const TwinElement& g : groups) {
        if (g.count > 1)
            out.append(g);
    }
    return out;
}

} // namespace TwinGroups

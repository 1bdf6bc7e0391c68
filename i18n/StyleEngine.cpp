#include "StyleEngine.h"

#include "DataPaths.h"

#include <QFile>
#include <QXmlStreamReader>

StyleEngine::StyleEngine(QObject* parent) : QObject(parent)
{
    QFile file(themeFile());
    if (!file.open(QIODevice::ReadOnly))
        return;   // every lookup yields its default

    QXmlStreamReader reader(&file);
    reader.readNext();   // start of the document
    reader.readNext();
    if (!(reader.isStartElement() && reader.name() == QLatin1String("general")))
        return;

    reader.readNextStartElement();
    while (!reader.atEnd() && !reader.hasError()) {
        if (reader.isStartElement()) {
            const QString name = reader.name().toString();
            QMap<QString, QString>* group = nullptr;
            if (name == QLatin1String("statistics_graph"))
                group = &statisticsGraph;
            else if (name == QLatin1String("statistics_mini_graph"))
                group = &statisticsMiniGraph;
            else if (name == QLatin1String("session_tab"))
                group = &sessionTab;
            else if (name == QLatin1String("sessions_tab"))
                group = &sessionsTab;
            else if (name == QLatin1String("sqls_tab"))
                group = &sqlsTab;
            if (group) {
                parsingGroup(&reader, group);
            } else {
                const QString text = reader.readElementText(QXmlStreamReader::IncludeChildElements);
                if (reader.hasError())
                    break;
                rootEntries.insert(name, text);
            }
        }
        reader.readNext();
    }
}

void StyleEngine::parsingGroup(QXmlStreamReader* reader, QMap<QString, QString>* table)
{
    reader->readNextStartElement();
    while (!reader->isEndElement() && !reader->atEnd() && !reader->hasError()) {
        const QString key = reader->name().toString();
        const QString text = reader->readElementText(QXmlStreamReader::IncludeChildElements);
        if (reader->hasError())
            break;
        table->insert(key, text);
        reader->readNextStartElement();
    }
}

QString StyleEngine::value(const QMap<QString, QString>& table, const QString& key, const QString& def)
{
    const auto it = table.constFind(key);
    return it == table.constEnd() ? def : it.value();
}

QColor StyleEngine::color(const QMap<QString, QString>& table, const QString& key, const QString& def)
{
    QColor c(value(table, key, def).trimmed());
    if (!c.isValid())
        c = QColor(def);
    return c;
}

QString StyleEngine::themeDir()
{
    return quarvelDataDir() + QStringLiteral("/theme/volga");
}

QString StyleEngine::themeFile()
{
    return themeDir() + QStringLiteral("/theme.xml");
}

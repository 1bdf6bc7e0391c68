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

const QMap<QString, QString>* StyleEngine::table(const QString& group) const
{
    if (group == QLatin1String("statistics_graph")) return &statisticsGraph;
    if (group == QLatin1String("statistics_mini_graph")) return &statisticsMiniGraph;
    if (group == QLatin1String("session_tab")) return &sessionTab;
    if (group == QLatin1String("sessions_tab")) return &sessionsTab;
    if (group == QLatin1String("sqls_tab")) return &sqlsTab;
    if (group == QLatin1String("general")) return &rootEntries;
    return nullptr;
}

const QList<StyleEngine::Colour>& StyleEngine::knownColours()
{
    static const QList<Colour> colours = {
        {QStringLiteral("statistics_graph"), QStringLiteral("select_clr"), QStringLiteral("#2485fd")},
        {QStringLiteral("statistics_graph"), QStringLiteral("insert_clr"), QStringLiteral("#ff6565")},
        {QStringLiteral("statistics_graph"), QStringLiteral("update_clr"), QStringLiteral("#fcc622")},
        {QStringLiteral("statistics_graph"), QStringLiteral("delete_clr"), QStringLiteral("#69d067")},
        {QStringLiteral("statistics_graph"), QStringLiteral("other_clr"), QStringLiteral("#a06bac")},
        {QStringLiteral("statistics_graph"), QStringLiteral("title_clr"), QStringLiteral("#a0a0a4")},
        {QStringLiteral("statistics_graph"), QStringLiteral("grid_clr"), QStringLiteral("#aaaaaa")},
        {QStringLiteral("statistics_graph"), QStringLiteral("label_grid_clr"), QStringLiteral("#eeeeee")},
        {QStringLiteral("statistics_graph"), QStringLiteral("legend_txt_clr"), QStringLiteral("gray")},
        {QStringLiteral("statistics_mini_graph"), QStringLiteral("graph_clr"), QStringLiteral("#2485fd")},
        {QStringLiteral("statistics_mini_graph"), QStringLiteral("grid_clr"), QStringLiteral("#eeeeee")},
        {QStringLiteral("statistics_mini_graph"), QStringLiteral("text_clr"), QStringLiteral("grey")},
        {QStringLiteral("session_tab"), QStringLiteral("queries_txt_clr"), QStringLiteral("#626262")},
        {QStringLiteral("session_tab"), QStringLiteral("received_txt_clr"), QStringLiteral("#74b67f")},
        {QStringLiteral("session_tab"), QStringLiteral("elapsed_txt_clr"), QStringLiteral("#74b67f")},
        {QStringLiteral("session_tab"), QStringLiteral("send_txt_clr"), QStringLiteral("#5f89de")},
        {QStringLiteral("session_tab"), QStringLiteral("rows_txt_clr"), QStringLiteral("#5f89de")},
        {QStringLiteral("session_tab"), QStringLiteral("graph_clr"), QStringLiteral("#2485fd")},
        {QStringLiteral("session_tab"), QStringLiteral("border_graph_clr"), QStringLiteral("#808080")},
        {QStringLiteral("session_tab"), QStringLiteral("line_graph_cur_clr"), QStringLiteral("#ff0000")},
        {QStringLiteral("session_tab"), QStringLiteral("mouse_line_graph_clr"), QStringLiteral("grey")},
        {QStringLiteral("sessions_tab"), QStringLiteral("text_performed_clr"), QStringLiteral("#d15257")},
        {QStringLiteral("sessions_tab"), QStringLiteral("row_connect_error_clr"), QStringLiteral("#eeeeee")},
        {QStringLiteral("sessions_tab"), QStringLiteral("row_compare_noequal_clr"), QStringLiteral("#fde9d9")},
        {QStringLiteral("sqls_tab"), QStringLiteral("data_txt_clr"), QStringLiteral("#3a9790")},
        {QStringLiteral("sqls_tab"), QStringLiteral("data_null_txt_clr"), QStringLiteral("#8cc7c3")},
        {QStringLiteral("sqls_tab"), QStringLiteral("profile_upper_txt_clr"), QStringLiteral("#800000")},
        {QStringLiteral("sqls_tab"), QStringLiteral("explain_warning_clr"), QStringLiteral("#fde9d9")},
        {QStringLiteral("general"), QStringLiteral("table_bar_clr"), QStringLiteral("#58b3e3")},
        {QStringLiteral("general"), QStringLiteral("pattern_other_txt_clr"), QStringLiteral("#8a8a8a")},
    };
    return colours;
}

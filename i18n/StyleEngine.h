#pragma once

#include <QColor>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class QXmlStreamReader;

/// Colours of graphs, session lists and result grids, read once from
/// quarvelDataDir() + "/theme/volga/theme.xml". Every lookup names its own
/// default colour, used when the theme lacks the key. GUI thread only.
class StyleEngine : public QObject
{
    Q_OBJECT
public:
    explicit StyleEngine(QObject* parent = nullptr);

    /// Reads the entries of one group (element name -> colour text) until the
    /// group's end tag, the end of the document or an XML error.
    void parsingGroup(QXmlStreamReader* reader, QMap<QString, QString>* table);

    /// Group `statistics_graph`: the stacked statement-kind graph.
    QMap<QString, QString> statisticsGraph;
    /// Group `statistics_mini_graph`: the small statistics graphs.
    QMap<QString, QString> statisticsMiniGraph;
    /// Group `session_tab`: the session view and its duration graph.
    QMap<QString, QString> sessionTab;
    /// Group `sessions_tab`: the session list and the comparison view.
    QMap<QString, QString> sessionsTab;
    /// Group `sqls_tab`: result grids, EXPLAIN views, table cell delegates.
    QMap<QString, QString> sqlsTab;
    /// Entries placed directly under the root element.
    QMap<QString, QString> rootEntries;

    /// The table's colour text for `key`, or `def` when the key is absent.
    static QString value(const QMap<QString, QString>& table, const QString& key, const QString& def);
    /// The table's colour for `key`; `def` when the key is absent or its text
    /// is not a colour.
    static QColor color(const QMap<QString, QString>& table, const QString& key, const QString& def);

    /// One colour the program looks up: its group element ("statistics_graph",
    /// ... or "general" for an entry directly under the root), key and the
    /// default its callers give.
    struct Colour
    {
        QString group;
        QString key;
        QString def;
    };
    /// Every colour the program looks up, with its default.
    static const QList<Colour>& knownColours();
    /// The table filled from group element `group` ("general": rootEntries);
    /// nullptr for an unknown group.
    const QMap<QString, QString>* table(const QString& group) const;

    /// Folder of the theme (theme.xml and highlight.css), without a trailing slash.
    static QString themeDir();
    /// Full path of the theme file.
    static QString themeFile();
};

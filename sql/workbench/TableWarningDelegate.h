#pragma once

#include <QItemDelegate>
#include <QString>
#include <QStringList>

/// Cells of an EXPLAIN table: a warning icon before the risky values of
/// `type`, `key` and `rows`, and the parts of `Extra` one per line with an
/// icon before a temporary table or a file sort. Columns are recognised by
/// their header text (the result's field name, any letter case), so the
/// ten-column and the twelve-column (`partitions`, `filtered`) shapes both
/// work. The rules are static so that the table's tool tips and colours
/// use the same decisions. GUI thread only.
class TableWarningDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    /// The EXPLAIN columns that have rules; everything else is Other.
    enum Column { Other = 0, Type, Key, Rows, Extra, PossibleKeys };
    /// Caution draws ":images/yellow_war.png", Serious ":images/red_war.png".
    enum Warning { NoWarning = 0, Caution, Serious };

    /// Text starts this many pixels right of the cell's left edge when an icon may stand before it.
    static constexpr int iconSpace = 20;
    /// Height of one Extra line (18 pixels of text and one of spacing).
    static constexpr int lineHeight = 19;

    explicit TableWarningDelegate(QObject* parent);

    /// The rule column a field name stands for.
    static Column columnOf(const QString& fieldName);
    /// The rule column of `index`, by its model's horizontal header text.
    static Column columnOf(const QModelIndex& index);
    /// The warning a cell text earns in `column`: type "index" Caution, type
    /// "all" Serious, a NULL key (empty text or "null") Serious, rows above
    /// 100 Serious (unreadable rows count as 0). Letter case does not count.
    static Warning warning(Column column, const QString& text);
    /// The warning of the cell at `index` (Extra cells have none of their own).
    static Warning warning(const QModelIndex& index);
    /// Key (group sql_view) of the warning tool tip for `text` in `column`;
    /// empty when the cell earns no warning.
    static QString toolTipKey(Column column, const QString& text);
    /// The lines of an Extra text: the parts between ";", trimmed, empty parts kept.
    static QStringList extraParts(const QString& text);
    /// The icon before one Extra part: Serious for "using filesort",
    /// Caution for "using temporary", none otherwise.
    static Warning extraPartWarning(const QString& part);
    /// Resource path of the icon for `w` (empty for NoWarning).
    static QString iconPath(Warning w);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    static void drawIcon(QPainter* painter, Warning w, const QPoint& at);
};

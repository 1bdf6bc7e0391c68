#include "TableWarningDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

TableWarningDelegate::TableWarningDelegate(QObject* parent)
    : QItemDelegate(parent)
{
}

TableWarningDelegate::Column TableWarningDelegate::columnOf(const QString& fieldName)
{
    const QString name = fieldName.trimmed().toLower();
    if (name == QLatin1String("type"))
        return Type;
    if (name == QLatin1String("key"))
        return Key;
    if (name == QLatin1String("rows"))
        return Rows;
    if (name == QLatin1String("extra"))
        return Extra;
    if (name == QLatin1String("possible_keys"))
        return PossibleKeys;
    return Other;
}

TableWarningDelegate::Column TableWarningDelegate::columnOf(const QModelIndex& index)
{
    if (!index.isValid())
        return Other;
    return columnOf(index.model()->headerData(index.column(), Qt::Horizontal, Qt::DisplayRole).toString());
}

TableWarningDelegate::Warning TableWarningDelegate::warning(Column column, const QString& text)
{
    const QString t = text.trimmed().toLower();
    switch (column) {
    case Type:
        if (t == QLatin1String("index"))
            return Caution;
        return t == QLatin1String("all") ? Serious : NoWarning;
    case Key:
        // A driver may hand a NULL key over as an empty text.
        return t.isEmpty() || t == QLatin1String("null") ? Serious : NoWarning;
    case Rows:
        return t.toLongLong() > 100 ? Serious : NoWarning;
    default:
        return NoWarning;
    }
}

TableWarningDelegate::Warning TableWarningDelegate::warning(const QModelIndex& index)
{
    return warning(columnOf(index), index.data(Qt::DisplayRole).toString());
}

QString TableWarningDelegate::toolTipKey(Column column, const QString& text)
{
    if (warning(column, text) == NoWarning)
        return QString();
    switch (column) {
    case Type:
        return text.trimmed().toLower() == QLatin1String("index") ? QStringLiteral("explain_type_index")
                                                                  : QStringLiteral("explain_type_all");
    case Key:
        return QStringLiteral("explain_key_null");
    case Rows:
        return QStringLiteral("explain_rows_100");
    default:
        return QString();
    }
}

QStringList TableWarningDelegate::extraParts(const QString& text)
{
    QStringList parts = text.split(QLatin1Char(';'));
    for (QString& p : parts)
        p = p.trimmed();
    return parts;
}

TableWarningDelegate::Warning TableWarningDelegate::extraPartWarning(const QString& part)
{
    const QString p = part.trimmed().toLower();
    if (p == QLatin1String("using filesort"))
        return Serious;
    return p == QLatin1String("using temporary") ? Caution : NoWarning;
}

QString TableWarningDelegate::iconPath(Warning w)
{
    switch (w) {
    case Caution:
        return QStringLiteral(":images/yellow_war.png");
    case Serious:
        return QStringLiteral(":images/red_war.png");
    default:
        return QString();
    }
}

void TableWarningDelegate::drawIcon(QPainter* painter, Warning w, const QPoint& at)
{
    if (w == NoWarning)
        return;
    const QPixmap icon(iconPath(w)); // QPixmap keeps loaded files in its cache
    painter->drawPixmap(at, icon);
}

void TableWarningDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const
{
    const Column column = columnOf(index);
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = option.rect;
    const QStyleOptionViewItem opt = setOptions(index, option);

    if (column == Extra) {
        drawBackground(painter, opt, index);
        const QStringList parts = extraParts(text);
        for (int i = 0; i < parts.size(); ++i) {
            const int top = cell.top() + lineHeight * i;
            drawDisplay(painter, opt, QRect(cell.left() + iconSpace, top, cell.width() - iconSpace, lineHeight - 1),
                        parts.at(i));
            drawIcon(painter, extraPartWarning(parts.at(i)), QPoint(cell.left() + 2, top + 1));
        }
        drawFocus(painter, opt, cell);
        return;
    }

    const Warning w = warning(column, text);
    if (w == NoWarning) {
        QItemDelegate::paint(painter, option, index);
        return;
    }
    drawBackground(painter, opt, index);
    drawDisplay(painter, opt, cell.adjusted(iconSpace, 0, 0, 0), text);
    drawIcon(painter, w, QPoint(cell.left() + 2, cell.top() + (cell.bottom() - cell.top() - 15) / 2));
    drawFocus(painter, opt, cell);
}

QSize TableWarningDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const Column column = columnOf(index);
    const QString text = index.data(Qt::DisplayRole).toString();
    QSize size = QItemDelegate::sizeHint(option, index);
    if (column == Extra) {
        const QStringList parts = extraParts(text);
        const QFontMetrics metrics(option.font);
        int width = 0;
        for (const QString& p : parts)
            width = qMax(width, metrics.horizontalAdvance(p));
        const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
        size.setWidth(width + iconSpace + 2 * margin);
        // n lines of 19 pixels, the last one without its spacing pixel; the
        // table adds its grid line, so the row is 19 pixels per line.
        if (parts.size() > 1)
            size.setHeight(lineHeight * parts.size() - 1);
        return size;
    }
    if (warning(column, text) != NoWarning)
        size.setWidth(size.width() + iconSpace);
    return size;
}

#include "TableButtonDelegate.h"

#include "StyleEngine.h"
#include "WidgetEnv.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <cmath>

TableButtonDelegate::TableButtonDelegate(QObject* parent, bool drawText)
    : QItemDelegate(parent)
    , drawText(drawText)
{
}

void TableButtonDelegate::setTextColor(QColor color)
{
    textColor = color;
}

bool TableButtonDelegate::textOverflows(const QString& text, const QFont& font, int cellWidth)
{
    // Every visible character is at least a pixel wide: a text with more
    // characters than the cell has pixels overflows without being measured
    // (a value of a megabyte is never laid out on a paint).
    if (text.size() > qMax(0, cellWidth))
        return true;
    return QFontMetrics(font).horizontalAdvance(text) >= cellWidth - 5;
}

QString TableButtonDelegate::shownText(const QString& text, const QFont& font, int cellWidth)
{
    return textOverflows(text, font, cellWidth) ? cutAtButton(text, font, cellWidth) : text;
}

QString TableButtonDelegate::cutAtButton(const QString& text, const QFont& font, int cellWidth)
{
    // Cut the text where the button starts, without an ellipsis: the button
    // says that there is more. Only as many characters as could fit are laid out.
    const int room = qMax(0, cellWidth - 20);
    QString cut = QFontMetrics(font).elidedText(text.left(room + 1), Qt::ElideRight, room);
    if (cut.endsWith(QChar(0x2026)))
        cut.chop(1);
    else if (cut.endsWith(QLatin1String("...")))
        cut.chop(3);
    return cut;
}

QRect TableButtonDelegate::buttonRect(const QRect& cell)
{
    return QRect(cell.right() - 19, cell.top(), 20, cell.height());
}

int TableButtonDelegate::barWidth(double value, int cellWidth) const
{
    const int full = qMax(0, cellWidth - 4);
    if (barFullScale == 0.0)
        return full;
    const double w = value * full / barFullScale;
    if (!(w > 0.0))
        return 0;
    return w >= full ? full : int(w);
}

void TableButtonDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    QStyleOptionViewItem opt = setOptions(index, option);
    const QRect cell = option.rect;
    const QString full = index.data(Qt::DisplayRole).toString();
    const bool showButton = textOverflows(full, opt.font, cell.width());
    const QString text = showButton ? cutAtButton(full, opt.font, cell.width()) : full;

    QColor color;
    if (textColor.isValid())
        color = textColor;
    if (nullColoring && full == QLatin1String("(null)"))
        color = WidgetEnv::color(&StyleEngine::sqlsTab, QStringLiteral("data_null_txt_clr"), QStringLiteral("#8cc7c3"));
    if (index.column() == upperCaseColumn && !full.isEmpty() && full.at(0).isUpper())
        color = WidgetEnv::color(&StyleEngine::sqlsTab, QStringLiteral("profile_upper_txt_clr"), QStringLiteral("#800000"));
    if (color.isValid()) {
        opt.palette.setColor(QPalette::Text, color);
        opt.palette.setColor(QPalette::HighlightedText, color);
    }

    drawBackground(painter, opt, index);

    if (index.column() == barColumn) {
        const int w = barWidth(full.toDouble(), cell.width());
        if (w > 0) {
            const QColor bar = WidgetEnv::color(&StyleEngine::rootEntries, QStringLiteral("table_bar_clr"),
                                                QStringLiteral("#58b3e3"));
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing, true);
            painter->setPen(bar);
            painter->setBrush(bar);
            painter->drawRoundedRect(QRectF(cell.left() + 2, cell.top() + 2, w, cell.height() - 4), 2, 2);
            painter->restore();
        }
    }

    if (drawText)
        drawDisplay(painter, opt, cell, text);
    drawFocus(painter, opt, cell);

    if (showButton) {
        QStyleOptionButton button;
        button.rect = buttonRect(cell);
        button.text = QStringLiteral("...");
        button.state = QStyle::State_Enabled;
        if (pressedIndex == index && (buttonState & QStyle::State_Sunken))
            button.state |= QStyle::State_Sunken;
        else
            button.state |= QStyle::State_Raised;
        QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_PushButton, &button, painter, option.widget);
    }
}

bool TableButtonDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                      const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const QString text = index.data(Qt::DisplayRole).toString();
    if (!textOverflows(text, option.font, option.rect.width()))
        return QItemDelegate::editorEvent(event, model, option, index);

    const QRect button = buttonRect(option.rect);
    if (event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (button.contains(mouse->pos())) {
            buttonState = QStyle::State_Sunken;
            pressedIndex = index;
            return false;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (button.contains(mouse->pos())) {
            buttonState = QStyle::State_Raised;
            pressedIndex = QPersistentModelIndex();
            emit buttonClicked(index);
            return true;
        }
    }
    buttonState = QStyle::State_Raised;
    pressedIndex = QPersistentModelIndex();
    return QItemDelegate::editorEvent(event, model, option, index);
}

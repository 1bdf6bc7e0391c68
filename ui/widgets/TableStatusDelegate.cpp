#include "TableStatusDelegate.h"

#include <QPainter>
#include <QPixmap>

TableStatusDelegate::TableStatusDelegate(QObject* parent)
    : QItemDelegate(parent)
{
}

QSize TableStatusDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return QSize(20, 20);
}

void TableStatusDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    drawBackground(painter, option, index);
    drawDisplay(painter, option, option.rect, QString());

    const QString status = index.data(Qt::DisplayRole).toString();
    const bool yes = status == QLatin1String("yes");
    const bool no = status == QLatin1String("no");
    if (yes || no) {
        const QPixmap image(yes ? QStringLiteral(":images/query_green.png") : QStringLiteral(":images/query_red.png"));
        const QPoint at(option.rect.left(), option.rect.top() + 2);
        if (!image.isNull()) {
            painter->drawPixmap(at, image);
        } else {
            // Without the images (a program built without its resources) a
            // coloured dot still tells the two apart.
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing, true);
            painter->setPen(Qt::NoPen);
            painter->setBrush(yes ? QColor(0x3c, 0xb0, 0x43) : QColor(0xd9, 0x3a, 0x3a));
            painter->drawEllipse(QRect(at + QPoint(3, 2), QSize(10, 10)));
            painter->restore();
        }
    }
    drawFocus(painter, option, option.rect);
}

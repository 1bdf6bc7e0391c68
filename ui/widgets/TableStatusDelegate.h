#pragma once

#include <QItemDelegate>

/// Status cells: a green mark for "yes", a red one for "no". GUI thread only.
class TableStatusDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    explicit TableStatusDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

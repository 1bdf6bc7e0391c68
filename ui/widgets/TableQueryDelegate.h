#pragma once

#include <QString>
#include <QStyledItemDelegate>

class QTextDocument;

/// Cells holding highlighted SQL (HTML with hljs-* classes), drawn with the
/// highlighting style sheet; text taller than 30 pixels ends in "...".
/// GUI thread only.
class TableQueryDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    TableQueryDelegate(QString styleSheet, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    const QString& styleSheet() const { return css; }

private:
    /// Lays `html` out at `width` pixels, wrapping anywhere.
    void layout(QTextDocument* doc, const QString& html, const QFont& font, int width) const;

    QString css;
};

#include "TableQueryDelegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextDocument>
#include <QTextOption>

TableQueryDelegate::TableQueryDelegate(QString styleSheet, QObject* parent)
    : QStyledItemDelegate(parent)
    , css(styleSheet)
{
}

void TableQueryDelegate::layout(QTextDocument* doc, const QString& html, const QFont& font, int width) const
{
    doc->setDefaultFont(font);
    doc->setDefaultStyleSheet(css);
    QTextOption wrap;
    wrap.setWrapMode(QTextOption::WrapAnywhere);
    doc->setDefaultTextOption(wrap);
    doc->setDocumentMargin(2);
    doc->setHtml(html);
    doc->setTextWidth(width > 0 ? width : -1);
}

void TableQueryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);

    QTextDocument doc;
    layout(&doc, opt.text, opt.font, opt.rect.width() - 15);

    // The style draws background, selection and focus; an ellipsis behind
    // the document marks text that does not fit the row.
    opt.text = doc.size().height() > 30 ? QStringLiteral("...") : QString();
    opt.displayAlignment = Qt::AlignRight | Qt::AlignBottom;
    QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    QAbstractTextDocumentLayout::PaintContext context;
    if (opt.state & QStyle::State_Selected) {
        const QPalette::ColorGroup group = (opt.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
        context.palette.setColor(QPalette::Text, opt.palette.color(group, QPalette::HighlightedText));
    } else {
        context.palette.setColor(QPalette::Text, opt.palette.color(QPalette::Text));
    }

    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
    painter->save();
    painter->translate(textRect.topLeft());
    const QRect clip(0, 0, textRect.width(), textRect.height());
    painter->setClipRect(clip);
    context.clip = clip;
    doc.documentLayout()->draw(painter, context);
    painter->restore();
}

QSize TableQueryDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    QTextDocument doc;
    layout(&doc, opt.text, opt.font, opt.rect.width());
    return QSize(int(doc.idealWidth()), int(doc.size().height()));
}

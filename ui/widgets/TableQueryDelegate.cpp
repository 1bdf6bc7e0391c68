#include "TableQueryDelegate.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>
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
        // Selected: the whole statement in the highlighted-text colour, the
        // token colours would not read on the selection.
        const QPalette::ColorGroup group = (opt.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
        const QColor selected = opt.palette.color(group, QPalette::HighlightedText);
        context.palette.setColor(QPalette::Text, selected);
        QTextCursor all(&doc);
        all.select(QTextCursor::Document);
        QTextCharFormat format;
        format.setForeground(selected);
        all.mergeCharFormat(format);
    } else {
        context.palette.setColor(QPalette::Text, opt.palette.color(QPalette::Text));
    }

    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);

    // Show whole lines only; a statement that fits is centred vertically
    // like the other cells of the row.
    qreal shown = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QTextLayout* lines = block.layout();
        const qreal top = lines->position().y();
        bool full = false;
        for (int i = 0; i < lines->lineCount(); ++i) {
            const qreal bottom = top + lines->lineAt(i).y() + lines->lineAt(i).height();
            if (bottom > textRect.height()) {
                full = true;
                break;
            }
            shown = bottom;
        }
        if (full)
            break;
    }
    if (shown <= 0)
        shown = textRect.height();
    const qreal height = doc.size().height();
    const int offset = height < textRect.height() ? int((textRect.height() - height) / 2) : 0;

    painter->save();
    painter->translate(textRect.left(), textRect.top() + offset);
    const QRect clip(0, 0, textRect.width(), int(std::ceil(shown)));
    painter->setClipRect(clip.intersected(QRect(0, -offset, textRect.width(), textRect.height())));
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

#pragma once

#include <QColor>
#include <QItemDelegate>
#include <QPersistentModelIndex>
#include <QStyle>

/// Table cells with an optional value bar, "(null)" and upper-case
/// colouring, and a "..." button on text too long for the cell.
/// GUI thread only.
class TableButtonDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    TableButtonDelegate(QObject* parent, bool drawText);

    /// Text colour of every cell (unless "(null)" or upper-case colouring applies).
    void setTextColor(QColor color);

    /// State of the "..." button of the cell being pressed (State_Sunken) or
    /// of all buttons (State_Raised); 1 before any mouse event.
    int buttonState = 1;
    /// Text colour set by setTextColor(); invalid when none was set.
    QColor textColor;
    /// Draw "(null)" in the theme's "data_null_txt_clr".
    bool nullColoring = false;
    /// Draw the cell text (off: bar only).
    bool drawText = true;
    /// Column drawn with a value bar, -1 for none.
    int barColumn = -1;
    /// Value of a bar across the whole cell; 0 fills every bar.
    double barFullScale = 0.0;
    /// Column whose texts starting with an upper-case letter are emphasised, -1 for none.
    int upperCaseColumn = -1;

    /// Width in pixels of the bar for `value` in a cell `cellWidth` wide.
    int barWidth(double value, int cellWidth) const;
    /// Whether `text` overflows a cell `cellWidth` wide in `font` (then the
    /// cell shows the "..." button). A text with more characters than the
    /// cell has pixels overflows without being measured.
    static bool textOverflows(const QString& text, const QFont& font, int cellWidth);
    /// What a cell `cellWidth` wide draws of `text`: the text itself when it
    /// fits, else its start up to the button; at most `cellWidth` characters
    /// of `text` are laid out.
    static QString shownText(const QString& text, const QFont& font, int cellWidth);
    /// The rightmost 20 pixels of `cell`, where the button sits.
    static QRect buttonRect(const QRect& cell);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

signals:
    /// The "..." button of the cell at `index` was clicked.
    void buttonClicked(QModelIndex index);

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    /// The start of an overflowing `text` up to the button, without an ellipsis.
    static QString cutAtButton(const QString& text, const QFont& font, int cellWidth);

    QPersistentModelIndex pressedIndex;
};

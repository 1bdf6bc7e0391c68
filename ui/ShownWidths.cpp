#include "ShownWidths.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>

ShownWidths::ShownWidths(QWidget* p, QTableView* t, QList<int> cols)
    : QObject(p), page(p), table(t), columns(std::move(cols))
{
    page->installEventFilter(this);
    apply();
}

void ShownWidths::apply()
{
    setAuto(page->isVisible());
}

void ShownWidths::setAuto(bool on)
{
    QHeaderView* header = table->horizontalHeader();
    for (int c : qAsConst(columns))
        header->setSectionResizeMode(c, on ? QHeaderView::ResizeToContents : QHeaderView::Interactive);
}

bool ShownWidths::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == page) {
        if (event->type() == QEvent::Show)
            setAuto(true);
        else if (event->type() == QEvent::Hide)
            setAuto(false);
    }
    return QObject::eventFilter(watched, event);
}

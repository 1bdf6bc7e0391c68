#include "CloseButton.h"

#include <QPainter>
#include <QStyleOption>
#include <QTabBar>

CloseButton::CloseButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    resize(sizeHint());
}

QSize CloseButton::sizeHint() const
{
    ensurePolished();
    const int w = style()->pixelMetric(QStyle::PM_TabCloseIndicatorWidth, nullptr, this);
    const int h = style()->pixelMetric(QStyle::PM_TabCloseIndicatorHeight, nullptr, this);
    return QSize(w, h);
}

void CloseButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOption opt;
    opt.initFrom(this);
    opt.state |= QStyle::State_AutoRaise;
    if (isEnabled() && underMouse() && !isChecked() && !isDown())
        opt.state |= QStyle::State_Raised;
    if (isChecked())
        opt.state |= QStyle::State_On;
    if (isDown())
        opt.state |= QStyle::State_Sunken;
    if (const QTabBar* bar = qobject_cast<const QTabBar*>(parentWidget())) {
        const int index = bar->currentIndex();
        const auto side = QTabBar::ButtonPosition(
            style()->styleHint(QStyle::SH_TabBar_CloseButtonPosition, nullptr, bar));
        if (bar->tabButton(index, side) == this)
            opt.state |= QStyle::State_Selected;
    }
    style()->drawPrimitive(QStyle::PE_IndicatorTabClose, &opt, &painter, this);
}

void CloseButton::enterEvent(QEvent* event)
{
    if (isEnabled())
        update();
    QAbstractButton::enterEvent(event);
}

void CloseButton::leaveEvent(QEvent* event)
{
    if (isEnabled())
        update();
    QAbstractButton::leaveEvent(event);
}

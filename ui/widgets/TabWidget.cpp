#include "TabWidget.h"

#include "CloseButton.h"

#include <QStyle>
#include <QTabBar>

TabWidget::TabWidget(QWidget* parent)
    : QTabWidget(parent)
{
    tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { min-height: 25px; }"));
}

QTabBar::ButtonPosition TabWidget::closeSide() const
{
    return QTabBar::ButtonPosition(
        style()->styleHint(QStyle::SH_TabBar_CloseButtonPosition, nullptr, tabBar()));
}

void TabWidget::setTabClosable(int index)
{
    auto* button = new CloseButton(tabBar());
    connect(button, &CloseButton::clicked, this, &TabWidget::closeTab);
    tabBar()->setTabButton(index, closeSide(), button);
}

void TabWidget::setTabColor(int index, bool active)
{
    tabBar()->setTabTextColor(index, active ? QColor(QStringLiteral("#d15257"))
                                            : tabBar()->palette().color(QPalette::WindowText));
}

void TabWidget::closeTab()
{
    QObject* button = sender();
    const QTabBar::ButtonPosition side = closeSide();
    for (int i = 0; i < count(); ++i) {
        if (tabBar()->tabButton(i, side) != button)
            continue;
        QWidget* page = widget(i);
        emit tabClose(tabText(i));
        // A receiver may have removed the tab already: look it up again.
        const int at = indexOf(page);
        if (at >= 0)
            removeTab(at);
        if (currentIndex() == spacerIndex)
            setCurrentIndex(0);
        if (page)
            page->deleteLater();
        return;
    }
}

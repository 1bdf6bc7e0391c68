#pragma once

#include <QTabBar>
#include <QTabWidget>

/// Main tab widget: tabs opened at run time get a close button and can be
/// coloured while their session runs. Index 3 is the disabled spacer between
/// the fixed pages and the run-time tabs. GUI thread only.
class TabWidget : public QTabWidget
{
    Q_OBJECT
public:
    explicit TabWidget(QWidget* parent = nullptr);

    /// Gives the tab at `index` a close button.
    void setTabClosable(int index);
    /// Tab text in "#d15257" while `active`, else in the bar's text colour.
    void setTabColor(int index, bool active);

    /// Position of the spacer tab that must never become current.
    static constexpr int spacerIndex = 3;

signals:
    /// A tab is being closed by its button; `header` is its text.
    void tabClose(QString header);

private slots:
    void closeTab();

private:
    QTabBar::ButtonPosition closeSide() const;
};

#pragma once

#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace Ui {
class ArchiveWidget;
}
class ArchiveListModel;
class ArchiveStore;
class QSortFilterProxyModel;
class QTableView;
struct ArchivedSession;

/// The archive tab: the saved sessions of the archive file, newest first,
/// sortable by any column. It reads the file to list sessions and to gather
/// statements for a comparison; everything that changes the file is asked
/// of the main window through its signals. GUI thread only.
class ArchiveWidget : public QWidget
{
    Q_OBJECT
public:
    /// `store` (not owned) must outlive the widget.
    explicit ArchiveWidget(ArchiveStore* store, QWidget* parent = nullptr);
    ~ArchiveWidget() override;

    /// The list (`tableSaved`).
    QTableView* table() const;
    ArchiveListModel* listModel() const { return model; }
    /// Enables or disables the buttons that need a saved session (not compare).
    void btnsSetActive(bool active);

    /// Ids of the selected rows of `view`, in the order they were selected.
    static QStringList selectedIds(const QTableView* view);
    QStringList selectedIds() const;
    /// The stored row of the list's session `id`, or nullptr.
    const ArchivedSession* session(const QString& id) const;

    /// Reads the archive again (sessions other programs saved appear),
    /// keeping the selected sessions selected.
    void reload();
    /// A row for a session just saved, made current.
    void addSession(const ArchivedSession& session);
    void removeSessions(const QStringList& ids);
    void setComment(const QString& id, const QString& comment);
    /// Empties the list (the archive was cleared).
    void clearAll();
    /// Bold rows for session number `id` while a tab shows it.
    void setHighlighted(quint64 id, bool on);

signals:
    void clickClearAll();
    void clickDelete();
    void clickComment(QString id, QString comment);
    void clickOpenTab(QTableView* table);

public slots:
    void on_clearSavedBtn_clicked();
    void on_deleteBtn_clicked();
    void on_commentBtn_clicked();
    void on_btnCompareSaved_clicked();
    void on_openTabSavBtn_clicked();
    void on_btnRefresh_clicked();
    void on_tableSaved_doubleClicked(QModelIndex index);
    void changeLanguage();

private:
    /// Compare for 2 to 5 selected rows, comment for fewer than 2.
    void selectionChanged();
    void makeCurrent(int sourceRow);
    QString text(const char* key) const;

    Ui::ArchiveWidget* ui;
    ArchiveStore* store;
    ArchiveListModel* model;
    QSortFilterProxyModel* proxy;
};

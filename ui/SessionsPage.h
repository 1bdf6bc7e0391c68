#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

namespace Ui {
class MainWindow;
}
class MngrSessions;
class QSortFilterProxyModel;
class QStandardItem;
class QStandardItemModel;
class SessionWidget;
class Settings;
class StyleEngine;
class languageEngine;
struct SessionData;

/// The sessions page of the main window and the session tabs: one row per
/// recorded session, newest first, and a tab per opened session. Works on
/// the page's widgets in the main window's form; the main window keeps the
/// counters. GUI thread only.
class SessionsPage : public QObject
{
    Q_OBJECT
public:
    enum Column {
        ColId = 0, ColStatus, ColStarted, ColDb, ColUser, ColQueries, ColElapsed, ColRows, ColReceived,
        ColSaved, ColumnCount
    };

    SessionsPage(Ui::MainWindow* form, MngrSessions* mngr, Settings* settings, languageEngine* lang,
                 StyleEngine* style, QWidget* window);

    QStandardItemModel* model() const { return sessionsModel; }
    QSortFilterProxyModel* proxy() const { return sessionsProxy; }

    /// The session id as the list and automatically opened tabs show it.
    static QString paddedId(unsigned long id);

    /// Appends the row of `data` (dropping the oldest beyond MaxSessions),
    /// selects it and, with AutoOpenNewSession, opens its tab.
    void addSession(SessionData* data, uint index);
    /// The connection ended: duration, failed-login colours, tab colour.
    /// Returns true when the session never authenticated.
    bool closeSession(const SessionData* data);
    void setDbName(unsigned long id, const QString& name);
    void removeSession(unsigned long id);
    /// Statement count, rows and Kb of the session's row.
    void refreshRow(const SessionData* data);
    /// The session's status cell shows "no" from now on.
    void markError(unsigned long id);
    /// Drops the oldest rows beyond `limit`.
    void trimTo(int limit);
    /// Empties the list and removes every run-time tab.
    void clear();

    /// Model row of session `id`, or -1.
    int rowOf(unsigned long id) const;

    /// Opens every selected session (skipping failed logins) or switches to
    /// its tab when one is open.
    void openSelected();
    /// Session numbers of the selected rows, each once, in selection order.
    QList<unsigned long> selectedIds() const;

    /// The session's "saved" cell reads "Yes"; `archiveId` is the number it
    /// was saved under (another program may have taken its own).
    void markSaved(unsigned long id, const QString& archiveId);
    bool isSaved(unsigned long id) const;
    /// Rows saved under these archive ids read "No" again; all rows when
    /// `all` is set.
    void markUnsaved(const QStringList& archiveIds, bool all = false);
    /// A session read back from the archive in a tab of its own: the view
    /// owns `data` and never takes live statements. Returns the view.
    SessionWidget* openSavedTab(SessionData* data);
    /// Opens session `data` at list position `index` in a new tab, or
    /// switches to its tab; selects statement `position` when >= 0. Returns
    /// the tab's view (nullptr when the session cannot be opened).
    SessionWidget* openTab(SessionData* data, uint index, bool paddedTitle, int position = -1);
    /// The main tab showing session `id`, searched from the spacer on; -1 if none.
    int findTab(unsigned long id) const;
    /// Bold (or normal) cells of the session's row.
    void setHighlightSession(unsigned long id, bool on);
    /// Removes every main tab after the spacer.
    void deleteTabsSessions();
    /// Enables the compare button for 2 to 5 selected rows.
    void selectionChanged();

    void changeLanguage();

signals:
    /// A session view's copy button: `text` is for the clipboard.
    void copyRequested(QString text);
    /// A session tab asks for an SQL editor tab (its execute and explain buttons).
    void sqlTabRequested(QString query, int command, QString dbName);

private:
    void createTab(SessionWidget* view, const QString& title, bool withIcon);
    void forgetRows(int first, int last);

    Ui::MainWindow* ui;
    MngrSessions* mngr;
    Settings* settings;
    languageEngine* lang;
    StyleEngine* style;
    QWidget* window;
    QStandardItemModel* sessionsModel;
    QSortFilterProxyModel* sessionsProxy;
    /// Column-0 item of each session's row, by session id.
    QHash<unsigned long, QStandardItem*> rowItems;
    QString performedText;
    QStringList yesNoText{QStringLiteral("Yes"), QStringLiteral("No")};
};

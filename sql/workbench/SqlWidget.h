#pragma once

#include "DbConnection.h"
#include "SqlRunner.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace Ui {
class SqlWidget;
}
class QKeyEvent;
class languageEngine;

/// One SQL editor tab: an editor, a database choice, and runs of its
/// statements (execute, profile, EXPLAIN, EXPLAIN as JSON, the online
/// analyzer) on a connection of its own to the server (SqlRunner), with
/// result tabs and an execution log. The window stays live while statements
/// run; Stop ends the running one. GUI thread only.
class SqlWidget : public QWidget
{
    Q_OBJECT
public:
    /// `params`: the server the tab connects to (the current profile's when
    /// the tab opens); `query` becomes the editor text. `lang` gives the
    /// texts; without it the engine handed to WidgetEnv is used.
    SqlWidget(int number, const DbConnectionParams& params, QString query, QWidget* parent,
              languageEngine* lang = nullptr);
    ~SqlWidget() override;

    /// Most result tabs one run opens (and analyzer pages it asks the
    /// browser for); further results are only in the log.
    static constexpr int maxResultTabs = 50;

    /// Selects database `name` in the list (once the server's list is known,
    /// when it is not yet); nothing changes when the server has none of that name.
    void setDbName(QString name);
    /// Visual (JSON) EXPLAIN is offered only while enabled here; the tab also
    /// sets it from the version its own connection reports.
    void setBtnVExplainEnabled(bool on);
    void setBtnExplainMdbVisible(bool on);
    /// Removes all result tabs, last first, and deletes their widgets later.
    void deleteTabs();
    /// Shows the editor text with a question before running it: Run executes,
    /// the other button only dismisses the question.
    void askBeforeExecute();

    int number() const { return tabNumber; }
    bool isRunning() const { return runner->isBusy(); }
    Ui::SqlWidget* form() const { return ui; }
    /// How often the size label was computed (it follows text changes, not
    /// cursor moves).
    int sizeUpdates() const { return sizeComputations; }

public slots:
    void on_btnExecute_clicked();
    void on_btnProfile_clicked();
    void on_btnExplain_clicked();
    void on_btnVExplain_clicked();
    void on_btnExplainMdb_clicked();
    void on_btnStop_clicked();
    void on_btnFind_clicked();
    void on_btnUndo_clicked();
    void on_btnWordwrap_clicked(bool checked);
    void on_btnHighlight_clicked(bool checked);
    void on_btnConfirmRun_clicked();
    void on_btnConfirmCancel_clicked();
    /// Marks the size label for an update shortly after the typing.
    void on_codeviewer_textChanged();
    void onChangeCurPos();
    void changeLanguage();

signals:
    /// The server answered the tab's connection (its databases are listed).
    void serverConnected(QString version);
    /// A run ended.
    void runFinished(SqlRunEnd end);

protected:
    /// The statements of `text` as they are sent (SqlScript::splitStatements).
    QStringList splitQueries(QString text);
    /// F9 executes (when Execute is enabled) and goes on to the base class;
    /// Ctrl+F finds.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString text(const char* key) const;
    void startRun(SqlJob::Kind kind, const QStringList& statements);
    void setRunning(bool on);
    void showRunState();
    void onConnected(const QString& version, const QStringList& databases);
    void onConnectFailed(const QString& error);
    void onProgress(const QVector<SqlOutcome>& outcomes);
    void onFinished(SqlRunEnd end, const QString& error);
    void addOutcomeTab(const SqlOutcome& outcome);
    void appendLog(const QVector<SqlOutcome>& outcomes);
    void appendLogNote(const QString& text, const QString& toolTip);
    void showFailureBox(const QString& serverMessage);
    void updateSize();

    Ui::SqlWidget* ui;
    languageEngine* lang;
    SqlRunner* runner;
    int tabNumber;
    QString executeTitle;
    QString profileTitle;
    QString explainTitle;
    QString sizeCaption;

    /// The server's databases are listed in cbxDb.
    bool databasesKnown = false;
    /// A name setDbName() got before the list was known.
    QString wantedDb;
    /// Whether the server offers JSON EXPLAIN (by the main window or the
    /// tab's own connection).
    bool vexplainAllowed = false;

    // The run going on (or the last one).
    SqlJob::Kind runKind = SqlJob::Execute;
    int runTotal = 0;
    int runDone = 0;
    int runResultSets = 0;
    int runTabs = 0;
    QElapsedTimer runClock;
    QTimer runTicker;
    QString lastState;

    QTimer sizeTimer;
    int sizeComputations = 0;
};

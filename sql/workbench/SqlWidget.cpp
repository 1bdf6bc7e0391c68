#include "SqlWidget.h"
#include "ui_SqlWidget.h"

#include "ExplainAnalyzer.h"
#include "FindDialog.h"
#include "ResponseExplainWidget.h"
#include "ResponseVExplainWidget.h"
#include "ResponseWidget.h"
#include "SqlScript.h"
#include "TableStatusDelegate.h"
#include "TextHelpers.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QDesktopServices>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextDocument>

namespace {

/// Ticks of the running state's clock, in ms.
constexpr int tickMs = 100;
/// The size label follows typing after this pause, in ms.
constexpr int sizeDelayMs = 150;

enum LogColumn { LogNumber, LogStatus, LogStatement, LogRows, LogMs };

QString seconds(qint64 ms)
{
    return QLocale::system().toString(double(ms) / 1000.0, 'f', 1);
}

} // namespace

SqlWidget::SqlWidget(int number, const DbConnectionParams& params, QString query, QWidget* parent,
                     languageEngine* le)
    : QWidget(parent), ui(new Ui::SqlWidget), lang(le ? le : WidgetEnv::language()),
      runner(new SqlRunner(params, this)), tabNumber(number)
{
    executeTitle = text("execute_tab_title");
    profileTitle = text("profile_tab_title");
    explainTitle = text("explain_tab_title");

    ui->setupUi(this);
    setObjectName(QStringLiteral("sqltab"));
    ui->btnExplainMdb->hide();
    setFocusProxy(ui->codeviewer);
    ui->tableLog->setItemDelegateForColumn(LogStatus, new TableStatusDelegate(ui->tableLog));
    QHeaderView* header = ui->tableLog->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(LogStatement, QHeaderView::Stretch);
    // Editor, results and log share the height about 3 : 4 : 2.
    ui->splitter->setSizes({300, 600});
    ui->splitter_2->setSizes({400, 200});

    if (lang)
        connect(lang, &languageEngine::languageChange, this, &SqlWidget::changeLanguage);
    connect(ui->codeviewer, &CodeEditor::changeCurPos, this, &SqlWidget::onChangeCurPos);
    connect(runner, &SqlRunner::connected, this, &SqlWidget::onConnected);
    connect(runner, &SqlRunner::connectFailed, this, &SqlWidget::onConnectFailed);
    connect(runner, &SqlRunner::progress, this, &SqlWidget::onProgress);
    connect(runner, &SqlRunner::finished, this, &SqlWidget::onFinished);

    runTicker.setInterval(tickMs);
    connect(&runTicker, &QTimer::timeout, this, &SqlWidget::showRunState);
    sizeTimer.setSingleShot(true);
    sizeTimer.setInterval(sizeDelayMs);
    connect(&sizeTimer, &QTimer::timeout, this, &SqlWidget::updateSize);

    ui->codeviewer->setPlainText(query);

    // The server's databases arrive from the tab's connection; until then
    // only "..." (no database) is listed.
    ui->cbxDb->addItem(QStringLiteral("..."));
    ui->cbxDb->setCurrentIndex(0);
    lastState = text("connecting_str");
    runner->connectServer();

    changeLanguage();
    updateSize();
}

SqlWidget::~SqlWidget()
{
    delete ui;
}

QString SqlWidget::text(const char* key) const
{
    return lang ? lang->sql(QLatin1String(key)) : QString::fromLatin1(key);
}

QStringList SqlWidget::splitQueries(QString text)
{
    return SqlScript::splitStatements(text);
}

void SqlWidget::setDbName(QString name)
{
    if (!databasesKnown) {
        wantedDb = name;
        return;
    }
    for (int i = 1; i < ui->cbxDb->count(); ++i)
        if (ui->cbxDb->itemText(i) == name) {
            ui->cbxDb->setCurrentIndex(i);
            return;
        }
}

void SqlWidget::setBtnVExplainEnabled(bool on)
{
    vexplainAllowed = on;
    ui->btnVExplain->setEnabled(on && !isRunning());
}

void SqlWidget::setBtnExplainMdbVisible(bool on)
{
    ui->btnExplainMdb->setVisible(on);
}

void SqlWidget::deleteTabs()
{
    for (int i = ui->tabWidget->count() - 1; i >= 0; --i) {
        QWidget* page = ui->tabWidget->widget(i);
        ui->tabWidget->removeTab(i);
        page->deleteLater();
    }
}

void SqlWidget::askBeforeExecute()
{
    ui->frameConfirm->show();
    ui->btnConfirmRun->setFocus();
}

void SqlWidget::on_btnConfirmRun_clicked()
{
    ui->frameConfirm->hide();
    on_btnExecute_clicked();
}

void SqlWidget::on_btnConfirmCancel_clicked()
{
    ui->frameConfirm->hide();
}

void SqlWidget::startRun(SqlJob::Kind kind, const QStringList& statements)
{
    if (isRunning() || statements.isEmpty())
        return;
    ui->frameConfirm->hide();
    if (kind != SqlJob::Analyzer)
        deleteTabs();

    SqlJob job;
    job.kind = kind;
    job.statements = statements;
    job.keepResults = maxResultTabs;
    if (ui->cbxDb->currentIndex() > 0) {
        job.database = ui->cbxDb->currentText();
    } else if (!databasesKnown && !wantedDb.isEmpty()) {
        job.database = wantedDb;
        job.databaseIfListed = true;
    }
    if (!runner->start(job))
        return;
    runKind = kind;
    runTotal = statements.size();
    runDone = 0;
    runResultSets = 0;
    runTabs = 0;
    runClock.start();
    setRunning(true);
}

void SqlWidget::on_btnExecute_clicked()
{
    startRun(SqlJob::Execute, splitQueries(ui->codeviewer->toPlainText()));
}

void SqlWidget::on_btnProfile_clicked()
{
    // The whole text is profiled as one statement.
    const QString all = ui->codeviewer->toPlainText();
    if (!all.trimmed().isEmpty())
        startRun(SqlJob::Profile, {all});
}

void SqlWidget::on_btnExplain_clicked()
{
    startRun(SqlJob::Explain, splitQueries(ui->codeviewer->toPlainText()));
}

void SqlWidget::on_btnVExplain_clicked()
{
    startRun(SqlJob::JsonExplain, splitQueries(ui->codeviewer->toPlainText()));
}

void SqlWidget::on_btnExplainMdb_clicked()
{
    startRun(SqlJob::Analyzer, splitQueries(ui->codeviewer->toPlainText()));
}

void SqlWidget::on_btnStop_clicked()
{
    runner->stop();
}

void SqlWidget::setRunning(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(ui->btnExecute), static_cast<QWidget*>(ui->btnProfile),
                       static_cast<QWidget*>(ui->btnExplain), static_cast<QWidget*>(ui->btnExplainMdb),
                       static_cast<QWidget*>(ui->cbxDb)})
        w->setEnabled(!on);
    ui->btnVExplain->setEnabled(!on && vexplainAllowed);
    ui->btnStop->setEnabled(on);
    if (on)
        runTicker.start();
    else
        runTicker.stop();
    showRunState();
}

void SqlWidget::showRunState()
{
    if (isRunning()) {
        ui->lbRunning->setText(text("running_str")
                                   .arg(seconds(runClock.elapsed()))
                                   .arg(qMin(runDone + 1, runTotal))
                                   .arg(runTotal));
        return;
    }
    ui->lbRunning->setText(lastState);
}

void SqlWidget::onConnected(const QString& version, const QStringList& databases)
{
    const QString previous = ui->cbxDb->currentIndex() > 0 ? ui->cbxDb->currentText() : QString();
    ui->cbxDb->clear();
    ui->cbxDb->addItem(QStringLiteral("..."));
    ui->cbxDb->addItems(databases);
    databasesKnown = true;
    const QString select = wantedDb.isEmpty() ? previous : wantedDb;
    wantedDb.clear();
    ui->cbxDb->setCurrentIndex(0);
    if (!select.isEmpty())
        setDbName(select);

    setBtnVExplainEnabled(SqlScript::ServerVersion::parse(version).supportsJsonExplain());
    if (lastState == text("connecting_str"))
        lastState.clear();
    ui->lbRunning->setToolTip(version);
    showRunState();
    emit serverConnected(version);
}

void SqlWidget::onConnectFailed(const QString& error)
{
    lastState = lang ? lang->errors(QStringLiteral("mysql_conn_error")) : error;
    ui->lbRunning->setToolTip(error);
    showRunState();
}

void SqlWidget::onProgress(const QVector<SqlOutcome>& outcomes)
{
    appendLog(outcomes);
    for (const SqlOutcome& o : outcomes) {
        if (o.index >= 0)
            runDone = o.index + 1;
        if (o.returnedRows)
            ++runResultSets;
        if (o.hasResult && runTabs < maxResultTabs)
            addOutcomeTab(o);
    }
    showRunState();
}

void SqlWidget::addOutcomeTab(const SqlOutcome& o)
{
    ++runTabs;
    QWidget* page = nullptr;
    QString title;
    switch (runKind) {
    case SqlJob::Execute:
        title = executeTitle + QStringLiteral(" #") + QString::number(ui->tabWidget->count() + 1);
        page = new ResponseWidget(o.result, title, ui->tabWidget, false, lang);
        break;
    case SqlJob::Profile:
        title = profileTitle + QStringLiteral(" #1");
        page = new ResponseWidget(o.result, title, ui->tabWidget, true, lang);
        break;
    case SqlJob::Explain: {
        title = explainTitle + QStringLiteral(" #") + QString::number(ui->tabWidget->count() + 1);
        auto* explain = new ResponseExplainWidget(o.result, ui->tabWidget, lang);
        if (lang)
            connect(lang, &languageEngine::languageChange, explain, &ResponseExplainWidget::updateToolTips);
        page = explain;
        break;
    }
    case SqlJob::JsonExplain:
        title = explainTitle + QStringLiteral(" #") + QString::number(ui->tabWidget->count() + 1);
        page = new ResponseVExplainWidget(o.result, ui->tabWidget);
        break;
    case SqlJob::Analyzer:
        QDesktopServices::openUrl(ExplainAnalyzer::url(o.result));
        return;
    }
    ui->tabWidget->addTab(page, title);
}

void SqlWidget::appendLog(const QVector<SqlOutcome>& outcomes)
{
    QTableWidget* log = ui->tableLog;
    int row = log->rowCount();
    log->setRowCount(row + outcomes.size());
    const QLocale locale = QLocale::system();
    for (const SqlOutcome& o : outcomes) {
        const QString statement = TextHelpers::remRN(o.statement);
        QString tip = TextHelpers::toTooltipStr(o.statement);
        if (!o.error.isEmpty())
            tip += QStringLiteral("\n\n") + o.error;
        auto* number = new QTableWidgetItem(QString::number(row + 1));
        auto* status = new QTableWidgetItem(o.status == SqlOutcome::Ok ? QStringLiteral("yes") : QStringLiteral("no"));
        auto* sent = new QTableWidgetItem(o.status == SqlOutcome::Stopped
                                              ? text("stopped_str") + QStringLiteral(": ") + statement
                                              : statement);
        sent->setToolTip(tip);
        auto* rows = new QTableWidgetItem(o.ran ? QString::number(o.rows) : QString());
        rows->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        rows->setForeground(QColor(Qt::blue));
        auto* ms = new QTableWidgetItem(o.ran ? locale.toString(o.ms, 'f', 3) : QString());
        log->setItem(row, LogNumber, number);
        log->setItem(row, LogStatus, status);
        log->setItem(row, LogStatement, sent);
        log->setItem(row, LogRows, rows);
        log->setItem(row, LogMs, ms);
        ++row;
    }
    log->scrollToBottom();
}

void SqlWidget::appendLogNote(const QString& note, const QString& toolTip)
{
    SqlOutcome o;
    o.statement = note;
    o.status = SqlOutcome::Failed;
    appendLog({o});
    ui->tableLog->item(ui->tableLog->rowCount() - 1, LogStatement)->setToolTip(toolTip);
}

void SqlWidget::onFinished(SqlRunEnd end, const QString& error)
{
    const qint64 ms = runClock.elapsed();
    switch (end) {
    case SqlRunEnd::Completed:
        lastState = text("finished_str").arg(runDone).arg(seconds(ms));
        if (runResultSets > runTabs && runKind == SqlJob::Execute)
            lastState += QStringLiteral(" ") + text("tabs_limit_str").arg(maxResultTabs);
        break;
    case SqlRunEnd::Stopped:
        lastState = text("stopped_str");
        break;
    case SqlRunEnd::Failed:
        lastState = text("finished_str").arg(runDone).arg(seconds(ms));
        if (runKind != SqlJob::Execute) {
            deleteTabs();
            showFailureBox(error);
        }
        break;
    case SqlRunEnd::NoConnection:
        lastState = lang ? lang->errors(QStringLiteral("mysql_conn_error")) : error;
        appendLogNote(lastState, error);
        break;
    }
    setRunning(false);
    if (ui->tabWidget->count() > 0)
        ui->tabWidget->setCurrentIndex(ui->tabWidget->count() - 1);
    emit runFinished(end);
}

void SqlWidget::showFailureBox(const QString& serverMessage)
{
    // Window-modal and not waited for: the tab may close while it shows.
    auto* box = new QMessageBox(QMessageBox::Critical,
                                lang ? lang->errors(QStringLiteral("error_str")) : QStringLiteral("Error"),
                                text("error_sql"), QMessageBox::Ok, this);
    box->setInformativeText(serverMessage);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void SqlWidget::on_btnFind_clicked()
{
    FindDialog dialog(this, lang);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QTextCursor found = ui->codeviewer->document()->find(dialog.substring(), 0);
    if (found.isNull()) {
        found = ui->codeviewer->textCursor();
        found.clearSelection();
    }
    ui->codeviewer->setTextCursor(found);
}

void SqlWidget::on_btnUndo_clicked()
{
    ui->codeviewer->undo();
}

void SqlWidget::on_btnWordwrap_clicked(bool checked)
{
    ui->codeviewer->setLineWrapMode(checked ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void SqlWidget::on_btnHighlight_clicked(bool checked)
{
    ui->codeviewer->setEnabledHighlight(checked);
}

void SqlWidget::on_codeviewer_textChanged()
{
    sizeTimer.start();
}

void SqlWidget::onChangeCurPos()
{
    const QTextCursor cursor = ui->codeviewer->textCursor();
    ui->lbLines->setText(QStringLiteral("%1:%2").arg(cursor.blockNumber() + 1).arg(cursor.positionInBlock()));
}

void SqlWidget::updateSize()
{
    ++sizeComputations;
    QString caption = sizeCaption;
    if (!caption.endsWith(QLatin1Char(':')))
        caption += QLatin1Char(':');
    ui->lbSize->setText(QStringLiteral("%1 %2B").arg(caption).arg(
        SqlScript::utf8Length(ui->codeviewer->toPlainText())));
}

void SqlWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F9) {
        if (ui->btnExecute->isEnabled())
            on_btnExecute_clicked();
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_F && event->modifiers() == Qt::ControlModifier) {
        on_btnFind_clicked();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SqlWidget::changeLanguage()
{
    ui->btnExecute->setText(text("execute_btn"));
    ui->btnProfile->setText(text("profile_btn"));
    ui->labelDb->setText(text("db_name_str"));
    ui->btnExplain->setText(text("explain_btn"));
    ui->btnVExplain->setText(text("vexplain_btn"));
    ui->btnExplainMdb->setText(text("explain_mdb_btn"));
    ui->btnStop->setText(text("stop_btn"));
    ui->labelLog->setText(text("log_title_str"));
    ui->lbConfirm->setText(text("confirm_str"));
    ui->btnConfirmRun->setText(text("confirm_run_btn"));
    ui->btnConfirmCancel->setText(text("confirm_cancel_btn"));

    const QString newExecute = text("execute_tab_title");
    const QString newProfile = text("profile_tab_title");
    const QString newExplain = text("explain_tab_title");
    for (int i = 0; i < ui->tabWidget->count(); ++i) {
        QString title = ui->tabWidget->tabText(i);
        title.replace(executeTitle, newExecute);
        title.replace(profileTitle, newProfile);
        title.replace(explainTitle, newExplain);
        ui->tabWidget->setTabText(i, title);
    }
    executeTitle = newExecute;
    profileTitle = newProfile;
    explainTitle = newExplain;

    ui->tableLog->setHorizontalHeaderLabels({text("num_col"), QString(), text("query_col"), text("rows_col"),
                                             text("duration_col")});
    ui->btnUndo->setToolTip(text("undo_btn"));
    ui->btnFind->setToolTip(text("find_btn"));
    ui->btnWordwrap->setToolTip(text("wordwrap_btn"));
    ui->btnHighlight->setToolTip(text("highlight_btn"));
    sizeCaption = text("size_str");
    onChangeCurPos();
    updateSize();
    showRunState();
}

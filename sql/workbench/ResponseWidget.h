#pragma once

#include "ResultSet.h"

#include <QBitArray>
#include <QModelIndex>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>

namespace Ui {
class ResponseWidget;
}
class QSqlQuery;
class ResultModel;
class ResultProxy;
class TableButtonDelegate;
class languageEngine;

/// The result set of one executed statement, or the profile of one
/// statement, as a sortable, filterable grid with a status line, and the
/// export of the shown rows to CSV or XML.
///
/// The grid is a model over the stored values (texts and tool tips made when
/// shown), column widths come from the first rows, and the filter runs in a
/// worker over the immutable result once typing pauses. GUI thread only.
class ResponseWidget : public QWidget
{
    Q_OBJECT
public:
    /// Rows measured for the initial column widths: this many first rows
    /// and a quarter as many last rows.
    static const int measuredRows = 200;
    /// Characters of a cell measured for the initial column widths.
    static const int measuredChars = 256;
    /// Widest a column starts (pixels); the user may widen it further.
    static const int maxColumnWidth = 400;
    /// Pause in typing after which the filter is applied (ms).
    static const int filterDelayMs = 250;

    /// `result`: the finished statement; `title`: window title and default
    /// export file name; `profile`: `result` holds SHOW PROFILE rows (status
    /// and duration in seconds). `lang` gives the texts (sql_view group);
    /// without it the engine handed to WidgetEnv, and without that the
    /// form's English texts.
    ResponseWidget(const ResultSet& result, QString title, QWidget* parent, bool profile,
                   languageEngine* lang = nullptr);
    /// Reads `query` (executed, before its first row) in the calling thread.
    ResponseWidget(QSqlQuery* query, double ms, QString title, QWidget* parent, bool profile);
    ~ResponseWidget() override;

    /// The statement as executed.
    QString queryText() const { return query; }
    ResultModel* resultModel() const { return model; }
    ResultProxy* proxyModel() const { return proxy; }
    TableButtonDelegate* delegate() const { return cells; }
    /// Whether a typed filter waits for its pause or is still being computed.
    bool filterPending() const;
    /// Applies a typed filter now, in this thread (the exports call it so
    /// that they write what was typed).
    void flushFilter();

public slots:
    /// Opens the value viewer with the whole text of the proxy cell `index`.
    void showData(QModelIndex index);
    void changeLanguage();
    void on_edFilter_textChanged(QString arg1);
    /// Asks for a file; a name ending in "xml" is written as XML, any other as CSV.
    void on_btnExport_clicked();
    /// Write the shown rows, in the shown order. A file that cannot be
    /// written is reported in a message box with the system's reason, the
    /// earlier file stays as it was and false is returned.
    bool exportXml(QString fileName);
    bool exportCsv(QString fileName);

signals:
    /// The grid shows the rows of the filter typed last.
    void filterApplied();

private:
    QString text(const char* key, const char* fallback) const;
    void setColumnWidths();
    void updateStatus();
    void startFilter();
    void cancelFilterRun();
    void applyFilter(const QBitArray& rows);
    bool reportIfFailed(bool written, const QString& fileName, const QString& error);

    Ui::ResponseWidget* ui;
    QString query;
    ResultModel* model = nullptr;
    ResultProxy* proxy = nullptr;
    TableButtonDelegate* cells = nullptr;
    languageEngine* lang = nullptr;
    bool profile = false;
    double ms = 0.0;
    int shownRows = 0;

    QTimer filterTimer;
    QString filterText;
    /// Raised to stop the filter run in flight; each run has its own.
    std::shared_ptr<std::atomic<bool>> filterCancel;
    /// Counts filter requests; a run whose number is not the last is dropped.
    quint64 filterGeneration = 0;
    bool filterRunning = false;
};

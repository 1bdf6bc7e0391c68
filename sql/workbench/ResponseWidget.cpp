#include "ResponseWidget.h"
#include "ui_ResponseWidget.h"

#include "DataViewerWidget.h"
#include "ExportWriter.h"
#include "ResultModel.h"
#include "StyleEngine.h"
#include "TableButtonDelegate.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QDir>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QLocale>
#include <QPixmap>
#include <QSqlQuery>
#include <QtConcurrent>

ResponseWidget::ResponseWidget(const ResultSet& result, QString title, QWidget* parent, bool profile_,
                               languageEngine* lang_)
    : QWidget(parent)
    , ui(new Ui::ResponseWidget)
    , query(result.statement)
    , lang(lang_ ? lang_ : WidgetEnv::language())
    , profile(profile_)
    , ms(result.ms)
    , shownRows(result.shownRowCount())
{
    ui->setupUi(this);
    setWindowTitle(title);
    if (lang)
        connect(lang, &languageEngine::languageChange, this, &ResponseWidget::changeLanguage);

    // The model is complete before the proxy and the view see it: no row is
    // ever inserted under a sorting proxy.
    model = new ResultModel(result, profile, this);
    proxy = new ResultProxy(this);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->setSourceModel(model);

    cells = new TableButtonDelegate(this, true);
    if (profile) {
        cells->setTextColor(QColor(Qt::black));
        cells->barColumn = 1;
        cells->upperCaseColumn = 0;
        double longest = 0.0;
        for (int r = 0; r < result.rowCount(); ++r)
            if (!result.isNull(r, 1))
                longest = qMax(longest, result.rows.at(r).at(1).toDouble());
        cells->barFullScale = longest;
    } else {
        cells->setTextColor(WidgetEnv::color(&StyleEngine::sqlsTab, QStringLiteral("data_txt_clr"),
                                              QStringLiteral("#3a9790")));
        cells->nullColoring = true;
    }
    connect(cells, &TableButtonDelegate::buttonClicked, this, &ResponseWidget::showData);

    QTableView* table = ui->table;
    table->setItemDelegate(cells);
    table->setModel(proxy);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Sorting starts in the server's order; only a click on a header sorts.
    table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table->setSortingEnabled(true);
    setColumnWidths();

    filterTimer.setSingleShot(true);
    filterTimer.setInterval(filterDelayMs);
    connect(&filterTimer, &QTimer::timeout, this, &ResponseWidget::startFilter);

    changeLanguage();
}

ResponseWidget::ResponseWidget(QSqlQuery* query_, double ms_, QString title, QWidget* parent, bool profile_)
    : ResponseWidget(readResultSet(*query_, ms_), std::move(title), parent, profile_)
{
}

ResponseWidget::~ResponseWidget()
{
    cancelFilterRun();
    delete ui;
}

QString ResponseWidget::text(const char* key, const char* fallback) const
{
    return lang ? lang->sql(QLatin1String(key)) : QString::fromLatin1(fallback);
}

void ResponseWidget::setColumnWidths()
{
    QHeaderView* header = ui->table->horizontalHeader();
    const QFontMetrics cellFont(ui->table->font());
    const QFontMetrics headerFont(header->font());
    const ResultSet& rs = model->result();
    // The first rows, and the last few, which a sort brings to the top (and
    // which hold the widest numbers of a growing sequence).
    QVector<int> rows;
    for (int r = 0; r < qMin(rs.rowCount(), measuredRows); ++r)
        rows << r;
    for (int r = qMax(measuredRows, rs.rowCount() - measuredRows / 4); r < rs.rowCount(); ++r)
        rows << r;
    for (int c = 0; c < rs.columnCount(); ++c) {
        if (profile && c == 0) {
            ui->table->setColumnWidth(0, 130);
            continue;
        }
        // Room for the sort arrow beside the name, and for the cell margins.
        int width = qMax(header->defaultSectionSize(), headerFont.horizontalAdvance(rs.columns.at(c)) + 24);
        for (int i = 0; i < rows.size() && width < maxColumnWidth; ++i)
            width = qMax(width, cellFont.horizontalAdvance(model->text(rows.at(i), c).left(measuredChars)) + 12);
        ui->table->setColumnWidth(c, qMin(width, maxColumnWidth));
    }
}

void ResponseWidget::updateStatus()
{
    const QString number = QLocale::system().toString(ms, 'f', ms < 1.0 ? 3 : 0);
    ui->lbStatus->setText(text("status_duration_str", "Duration") + QLatin1String(" - ") + number
                          + QLatin1Char(' ') + text("status_ms_str", "ms") + QLatin1String(", ")
                          + text("status_rows_str", "Rows") + QLatin1String(" - ") + QString::number(shownRows));
}

void ResponseWidget::changeLanguage()
{
    if (lang) {
        ui->lbStatusHeader->setText(lang->sql(QStringLiteral("status_str")));
        ui->btnExport->setText(lang->sql(QStringLiteral("export_btn")));
        ui->label->setText(lang->sql(QStringLiteral("filter_str")) + QLatin1Char(':'));
    }
    updateStatus();
}

void ResponseWidget::showData(QModelIndex index)
{
    auto* viewer = new DataViewerWidget(index.data(Qt::DisplayRole).toString(), this, lang);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setModal(true);
    viewer->open();
}

void ResponseWidget::on_edFilter_textChanged(QString arg1)
{
    ui->label_2->setPixmap(QPixmap(arg1.isEmpty() ? QStringLiteral(":/images/filter_start.png")
                                                  : QStringLiteral(":/images/filter_stop.png")));
    filterText = arg1;
    cancelFilterRun();
    ++filterGeneration;
    if (filterText.isEmpty()) {
        // Showing every row again needs no search.
        filterTimer.stop();
        applyFilter(QBitArray());
    } else {
        filterTimer.start();
    }
}

bool ResponseWidget::filterPending() const
{
    return filterTimer.isActive() || filterRunning;
}

void ResponseWidget::startFilter()
{
    cancelFilterRun();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    filterCancel = cancel;
    filterRunning = true;
    const quint64 generation = filterGeneration;
    // The worker reads its own copy of the result (shared, never written).
    const ResultSet rs = model->result();
    const bool isProfile = profile;
    const QString needle = filterText;
    auto* watcher = new QFutureWatcher<QBitArray>(this);
    connect(watcher, &QFutureWatcher<QBitArray>::finished, this, [this, watcher, generation, cancel] {
        watcher->deleteLater();
        if (generation == filterGeneration && !cancel->load())
            applyFilter(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([rs, isProfile, needle, cancel] {
        return ResultModel::matchingRows(rs, isProfile, needle, cancel.get());
    }));
}

void ResponseWidget::cancelFilterRun()
{
    if (filterCancel)
        filterCancel->store(true);
    filterCancel.reset();
    filterRunning = false;
}

void ResponseWidget::flushFilter()
{
    if (!filterPending())
        return;
    filterTimer.stop();
    cancelFilterRun();
    ++filterGeneration;
    applyFilter(filterText.isEmpty() ? QBitArray()
                                     : ResultModel::matchingRows(model->result(), profile, filterText));
}

void ResponseWidget::applyFilter(const QBitArray& rows)
{
    filterRunning = false;
    proxy->setAcceptedRows(rows);
    emit filterApplied();
}

void ResponseWidget::on_btnExport_clicked()
{
    // The title may hold characters that a file name cannot.
    QString name = windowTitle();
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString fileName = QFileDialog::getSaveFileName(
        this, text("export_btn", "Export"), QDir::homePath() + QLatin1Char('/') + name + QLatin1String(".xml"),
        QStringLiteral("XML files (*.xml)\nCSV files (*.csv)"));
    if (fileName.isEmpty())
        return;
    if (fileName.right(3) == QLatin1String("xml"))
        exportXml(fileName);
    else
        exportCsv(fileName);
}

bool ResponseWidget::reportIfFailed(bool written, const QString& fileName, const QString& error)
{
    if (!written)
        ExportWriter::showFailure(this, fileName, error, lang);
    return written;
}

bool ResponseWidget::exportCsv(QString fileName)
{
    flushFilter();
    ExportWriter writer(fileName);
    bool written = writer.open(true);
    if (written) {
        const int columns = proxy->columnCount();
        QStringList values;
        for (int c = 0; c < columns; ++c)
            values << proxy->headerData(c, Qt::Horizontal).toString();
        writer.csvLine(values, true);
        for (int r = 0; r < proxy->rowCount(); ++r) {
            const int row = proxy->mapToSource(proxy->index(r, 0)).row();
            values.clear();
            for (int c = 0; c < columns; ++c)
                values << model->text(row, c);
            writer.csvLine(values, true);
        }
        written = writer.commit();
    }
    return reportIfFailed(written, fileName, writer.errorString());
}

bool ResponseWidget::exportXml(QString fileName)
{
    flushFilter();
    ExportWriter writer(fileName);
    bool written = writer.open(false);
    if (written) {
        QTextStream& out = writer.out();
        const int columns = proxy->columnCount();
        QStringList starts, ends;
        for (int c = 0; c < columns; ++c) {
            const QString name = proxy->headerData(c, Qt::Horizontal).toString();
            starts << ExportWriter::xmlStartTag(name);
            ends << ExportWriter::xmlEndTag(name) + QLatin1Char('\n');
        }
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Execution>\n<Query>\n"
            << ExportWriter::xmlText(query) << "</Query>\n<Data>\n";
        for (int r = 0; r < proxy->rowCount(); ++r) {
            const int row = proxy->mapToSource(proxy->index(r, 0)).row();
            out << "<Row>\n";
            for (int c = 0; c < columns; ++c)
                out << starts.at(c) << ExportWriter::xmlText(model->text(row, c)) << ends.at(c);
            out << "</Row>\n";
        }
        out << "</Data>\n</Execution>\n";
        written = writer.commit();
    }
    return reportIfFailed(written, fileName, writer.errorString());
}

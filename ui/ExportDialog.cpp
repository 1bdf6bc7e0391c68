#include "ExportDialog.h"
#include "ui_ExportDialog.h"

#include "ExportWriter.h"
#include "languageEngine.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFileDialog>
#include <QListWidgetItem>
#include <QLocale>
#include <QTextStream>

ExportDialog::ExportDialog(QWidget* parent, QStringList captions_, QStringList keys_,
                           QList<QStringList> rows_, QString path_, QString rootName_,
                           languageEngine* lang_)
    : QDialog(parent)
    , ui(new Ui::ExportDialog)
    , captions(std::move(captions_))
    , keys(std::move(keys_))
    , rows(std::move(rows_))
    , path(std::move(path_))
    , rootName(std::move(rootName_))
    , lang(lang_)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    if (lang) {
        setWindowTitle(lang->exports(QStringLiteral("export_title")));
        ui->gbFields->setTitle(lang->exports(QStringLiteral("fields_group")));
        ui->gbTypeFile->setTitle(lang->exports(QStringLiteral("type_file_group")));
        ui->gbFile->setTitle(lang->exports(QStringLiteral("file_group")));
        ui->pbBrowser->setText(lang->exports(QStringLiteral("browse_btn")));
        ui->pbExport->setText(lang->exports(QStringLiteral("ok_btn")));
        ui->pbCancel->setText(lang->exports(QStringLiteral("cancel_btn")));
    }

    for (const QString& caption : captions) {
        auto* item = new QListWidgetItem(caption, ui->lwFields);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    // A field toggled from the keyboard updates the button as a click does.
    connect(ui->lwFields, &QListWidget::itemChanged, this, [this] { updateExportButton(); });
    ui->lePath->setText(path);
    updateExportButton();
}

ExportDialog::~ExportDialog()
{
    delete ui;
}

QList<bool> ExportDialog::checkedFields() const
{
    QList<bool> checked;
    for (int i = 0; i < ui->lwFields->count(); ++i)
        checked << (ui->lwFields->item(i)->checkState() == Qt::Checked);
    return checked;
}

void ExportDialog::updateExportButton()
{
    ui->pbExport->setEnabled(checkedFields().contains(true));
}

void ExportDialog::on_lwFields_itemClicked(QListWidgetItem*)
{
    updateExportButton();
}

void ExportDialog::on_rbCsv_toggled(bool checked)
{
    if (checked && path.endsWith(QLatin1String(".xml")))
        path = path.left(path.size() - 4) + QLatin1String(".csv");
    else if (!checked && path.endsWith(QLatin1String(".csv")))
        path = path.left(path.size() - 4) + QLatin1String(".xml");
    ui->lePath->setText(path);
}

void ExportDialog::on_pbBrowser_clicked()
{
    const QString title = lang ? lang->session(QStringLiteral("export_btn")) : windowTitle();
    const QString filter = ui->rbCsv->isChecked() ? QStringLiteral("CSV files (*.csv)")
                                                  : QStringLiteral("XML files (*.xml)");
    const QString chosen = QFileDialog::getSaveFileName(this, title, path, filter);
    if (chosen.isEmpty())
        return;
    path = chosen;
    ui->lePath->setText(path);
}

void ExportDialog::on_pbExport_clicked()
{
    const bool written = ui->rbCsv->isChecked() ? exportCSV() : exportXML();
    // A file that could not be written is reported and the dialog stays open,
    // so that another place can be chosen.
    if (written)
        accept();
}

bool ExportDialog::exportCSV()
{
    QString error;
    if (writeCSV(path, captions, rows, checkedFields(), &error, note))
        return true;
    reportWriteError(error);
    return false;
}

bool ExportDialog::exportXML()
{
    QString error;
    if (writeXML(path, rootName, keys, rows, checkedFields(), &error, note))
        return true;
    reportWriteError(error);
    return false;
}

void ExportDialog::reportWriteError(const QString& error)
{
    ExportWriter::showFailure(this, path, error, lang);
}

namespace {

/// The values of the checked fields, in field order.
QStringList checkedValues(const QStringList& values, const QList<bool>& checked)
{
    QStringList out;
    for (int i = 0; i < values.size() && i < checked.size(); ++i)
        if (checked.at(i))
            out << values.at(i);
    return out;
}

bool failed(const ExportWriter& writer, QString* error)
{
    if (error)
        *error = writer.errorString();
    return false;
}

} // namespace

bool ExportDialog::writeCSV(const QString& path, const QStringList& captions,
                            const QList<QStringList>& rows, const QList<bool>& checked,
                            QString* error, const QString& note)
{
    ExportWriter writer(path);
    if (!writer.open(true))
        return failed(writer, error);
    if (!note.isEmpty())
        writer.out() << "# " << QString(note).replace(QLatin1Char('\n'), QLatin1Char(' ')) << '\n';
    // The captions are escaped here; the values arrive escaped by the lists.
    writer.csvLine(checkedValues(captions, checked), true);
    for (const QStringList& row : rows)
        writer.csvLine(checkedValues(row, checked), false);
    return writer.commit() || failed(writer, error);
}

bool ExportDialog::writeXML(const QString& path, const QString& rootName, const QStringList& keys,
                            const QList<QStringList>& rows, const QList<bool>& checked,
                            QString* error, const QString& note)
{
    ExportWriter writer(path);
    if (!writer.open(false))
        return failed(writer, error);
    QTextStream& out = writer.out();
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (!note.isEmpty()) // a comment may not hold "--"
        out << "<!-- " << ExportWriter::xmlText(note).replace(QStringLiteral("--"), QStringLiteral("- -")) << " -->\n";
    out << '<' << rootName << ">\n";
    for (const QStringList& row : rows) {
        out << "  <Query>\n";
        for (int i = 0; i < row.size() && i < keys.size() && i < checked.size(); ++i) {
            if (!checked.at(i))
                continue;
            out << "    <" << keys.at(i) << '>' << ExportWriter::xmlText(row.at(i)) << "</" << keys.at(i) << ">\n";
        }
        out << "  </Query>\n";
    }
    out << "</" << rootName << ">\n";
    return writer.commit() || failed(writer, error);
}

QStringList ExportDialog::collectCaptions(const QAbstractItemModel* view, const QList<ExportField>& fields)
{
    QStringList out;
    for (const ExportField& f : fields)
        out << view->headerData(f.column, Qt::Horizontal, Qt::DisplayRole).toString();
    return out;
}

QList<QStringList> ExportDialog::collectRows(const QAbstractItemModel* view, const QList<ExportField>& fields)
{
    const QLocale locale = QLocale::system();
    QList<QStringList> out;
    const int count = view->rowCount();
    out.reserve(count);
    for (int r = 0; r < count; ++r) {
        QStringList values;
        for (const ExportField& f : fields) {
            const QModelIndex idx = view->index(r, f.column);
            switch (f.kind) {
            case ExportField::Text:
                values << idx.data(Qt::DisplayRole).toString();
                break;
            case ExportField::Statement:
                values << idx.data(Qt::UserRole).toString().replace(QLatin1Char('"'), QLatin1String("\"\""));
                break;
            case ExportField::Milliseconds: {
                const double ms = idx.data(Qt::DisplayRole).toDouble();
                values << locale.toString(ms, 'f', ms < 1.0 ? 3 : 0);
                break;
            }
            case ExportField::Number:
                values << locale.toString(idx.data(Qt::DisplayRole).toFloat(), 'g', 6);
                break;
            }
        }
        out << values;
    }
    return out;
}

QStringList ExportDialog::fieldKeys(const QList<ExportField>& fields)
{
    QStringList out;
    for (const ExportField& f : fields)
        out << f.key;
    return out;
}

QString ExportDialog::defaultPath(const QString& fileName)
{
    return QDir::homePath() + QLatin1Char('/') + fileName;
}

QList<ExportField> ExportDialog::sessionFields()
{
    return {
        {QStringLiteral("Number"), 0, ExportField::Text},
        {QStringLiteral("Sql_query"), 2, ExportField::Statement},
        {QStringLiteral("Time_ms"), 3, ExportField::Milliseconds},
        {QStringLiteral("Time_proc"), 4, ExportField::Number},
        {QStringLiteral("Longest_proc"), 5, ExportField::Text},
        {QStringLiteral("Rows"), 6, ExportField::Text},
        {QStringLiteral("Get_Kb"), 7, ExportField::Number},
        {QStringLiteral("Sent_Kb"), 8, ExportField::Number},
    };
}

QList<ExportField> ExportDialog::flowFields()
{
    return {
        {QStringLiteral("Number"), 0, ExportField::Text},
        {QStringLiteral("Number_session"), 1, ExportField::Text},
        {QStringLiteral("Sql_query"), 3, ExportField::Statement},
        {QStringLiteral("Time_ms"), 4, ExportField::Milliseconds},
        {QStringLiteral("Get_Kb"), 5, ExportField::Number},
        {QStringLiteral("Rows"), 6, ExportField::Text},
    };
}

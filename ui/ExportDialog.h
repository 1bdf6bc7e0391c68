#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

namespace Ui {
class ExportDialog;
}
class QAbstractItemModel;
class QListWidgetItem;
class languageEngine;

/// One field of a statement list export: the XML element name, the column
/// it is read from (through the list's proxy, so in view order) and how the
/// value is written.
struct ExportField
{
    enum Kind {
        Text,         ///< the cell's display text
        Statement,    ///< the one-line statement (user role), double quotes doubled
        Milliseconds, ///< system locale, fixed, 3 decimals below 1 ms, else 0
        Number        ///< system locale, 'g', 6 significant digits
    };
    QString key;
    int column;
    Kind kind;
};

/// Writes the rows prepared by a statement list to a CSV or XML file with a
/// chosen subset of fields. Modal, one use; the writers are also callable
/// without the dialog. GUI thread only.
class ExportDialog : public QDialog
{
    Q_OBJECT
public:
    /// `lang` gives the texts (export group); without it the form's own texts stay.
    ExportDialog(QWidget* parent, QStringList captions, QStringList keys, QList<QStringList> rows,
                 QString path, QString rootName, languageEngine* lang = nullptr);
    ~ExportDialog() override;

    /// Writes `path` as CSV / XML with the checked fields. When the file
    /// cannot be written nothing is written and false is returned.
    bool exportCSV();
    bool exportXML();

    /// A line written before the rows (a CSV line starting with "# ", an XML
    /// comment before the root), for what the rows leave out; none when empty.
    void setNote(const QString& text) { note = text; }

    /// The target file as currently proposed.
    QString currentPath() const { return path; }
    /// Check state of every field, in field order.
    QList<bool> checkedFields() const;

    /// CSV: a header line of the checked captions (their double quotes
    /// doubled), then one line per row with the values as handed over; every
    /// field in double quotes, joined by ";", system locale encoding.
    /// Written through ExportWriter (temporary file, then rename).
    static bool writeCSV(const QString& path, const QStringList& captions,
                         const QList<QStringList>& rows, const QList<bool>& checked,
                         QString* error = nullptr, const QString& note = QString());
    /// XML (UTF-8): <root>, one <Query> per row with one element per checked
    /// field; values as ExportWriter::xmlText() writes them.
    static bool writeXML(const QString& path, const QString& rootName, const QStringList& keys,
                         const QList<QStringList>& rows, const QList<bool>& checked,
                         QString* error = nullptr, const QString& note = QString());

    /// Header texts of the fields' columns, read from `view`.
    static QStringList collectCaptions(const QAbstractItemModel* view, const QList<ExportField>& fields);
    /// One list of formatted values per row of `view`, in the view's order.
    static QList<QStringList> collectRows(const QAbstractItemModel* view, const QList<ExportField>& fields);
    /// The fields' XML names, in order.
    static QStringList fieldKeys(const QList<ExportField>& fields);
    /// The user's home folder, "/" and `fileName`.
    static QString defaultPath(const QString& fileName);

    /// Fields of the session view's statement table.
    static QList<ExportField> sessionFields();
    /// Fields of the live flow table.
    static QList<ExportField> flowFields();

public slots:
    void on_pbBrowser_clicked();
    void on_pbExport_clicked();
    void on_lwFields_itemClicked(QListWidgetItem* item);
    void on_rbCsv_toggled(bool checked);

private:
    void updateExportButton();
    void reportWriteError(const QString& error);

    Ui::ExportDialog* ui;
    QStringList captions;
    QStringList keys;
    QList<QStringList> rows;
    QString path;
    QString rootName;
    QString note;
    languageEngine* lang;
};

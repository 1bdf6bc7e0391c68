#include "DataViewerWidget.h"
#include "ui_DataViewerWidget.h"

#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QApplication>
#include <QClipboard>
#include <QIcon>

DataViewerWidget::DataViewerWidget(QString text, QWidget* parent, languageEngine* lang)
    : QDialog(parent), ui(new Ui::DataViewerWidget)
{
    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.ico")));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    if (!lang)
        lang = WidgetEnv::language();
    if (lang) {
        setWindowTitle(lang->session(QStringLiteral("data_title")));
        ui->btnCopy->setToolTip(lang->session(QStringLiteral("copy_to_clipboard")));
    }
    // Wrapping at word boundaries takes time quadratic in the length of a
    // word (a megabyte of hex digits took minutes); a value with a very long
    // word wraps anywhere instead, which is linear.
    if (longestWord(text) > longWord)
        ui->dataViewer->setWordWrapMode(QTextOption::WrapAnywhere);
    ui->dataViewer->setPlainText(text);
}

int DataViewerWidget::longestWord(const QString& text)
{
    int longest = 0, run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        longest = qMax(longest, run);
    }
    return longest;
}

DataViewerWidget::~DataViewerWidget()
{
    delete ui;
}

QString DataViewerWidget::text() const
{
    return ui->dataViewer->toPlainText();
}

void DataViewerWidget::on_btnCopy_clicked()
{
    QApplication::clipboard()->setText(ui->dataViewer->toPlainText(), QClipboard::Clipboard);
}

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
    ui->dataViewer->setPlainText(text);
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

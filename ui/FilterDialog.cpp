#include "FilterDialog.h"
#include "ui_FilterDialog.h"

#include "languageEngine.h"

FilterDialog::FilterDialog(int mode, QString kw, QWidget* parent, languageEngine* lang)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , ui(new Ui::FilterDialog)
    , chosenMode(mode)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    if (lang) {
        setWindowTitle(lang->session(QStringLiteral("filter_btn")));
        ui->groupBox->setTitle(lang->session(QStringLiteral("filter_type_str")));
        ui->rbAll->setText(lang->session(QStringLiteral("filter_all_str")));
        ui->rbRead->setText(lang->session(QStringLiteral("filter_read_str")));
        ui->rbWrite->setText(lang->session(QStringLiteral("filter_write_str")));
        ui->rbError->setText(lang->session(QStringLiteral("filter_error_str")));
        ui->label->setText(lang->session(QStringLiteral("filter_keyword_str")));
    }

    ui->lineEdit->setText(kw);
    switch (mode) {
    case 1:
        ui->rbRead->setChecked(true);
        break;
    case 2:
        ui->rbWrite->setChecked(true);
        break;
    case 3:
        ui->rbError->setChecked(true);
        break;
    default:
        ui->rbAll->setChecked(true);
        break;
    }
    ui->lineEdit->setFocus();
}

FilterDialog::~FilterDialog()
{
    delete ui;
}

QString FilterDialog::keyword() const
{
    return ui->lineEdit->text();
}

void FilterDialog::accept()
{
    if (ui->rbAll->isChecked())
        chosenMode = 0;
    else if (ui->rbRead->isChecked())
        chosenMode = 1;
    else if (ui->rbWrite->isChecked())
        chosenMode = 2;
    else
        chosenMode = 3;
    QDialog::accept();
}

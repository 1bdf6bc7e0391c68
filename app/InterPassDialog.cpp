#include "InterPassDialog.h"
#include "ui_InterPassDialog.h"

InterPassDialog::InterPassDialog(QString title, QWidget* parent)
    : QDialog(parent), ui(new Ui::InterPassDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setWindowTitle(title);
    resize(218, 69);
}

InterPassDialog::~InterPassDialog()
{
    delete ui;
}

QString InterPassDialog::password() const
{
    return ui->lineEdit->text();
}

void InterPassDialog::on_pushButton_clicked()
{
    accept();
}

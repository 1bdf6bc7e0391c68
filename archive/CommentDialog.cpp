#include "CommentDialog.h"
#include "ui_CommentDialog.h"

CommentDialog::CommentDialog(QString title, QString text, QWidget* parent)
    : QDialog(parent), ui(new Ui::CommentDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setFixedSize(379, 167);
    setWindowTitle(title);
    ui->textEdit->setPlainText(text);
    ui->textEdit->setFocus();
}

CommentDialog::~CommentDialog()
{
    delete ui;
}

QString CommentDialog::getTextComment() const
{
    return ui->textEdit->toPlainText();
}

#include "FindDialog.h"
#include "ui_FindDialog.h"

#include "WidgetEnv.h"
#include "languageEngine.h"

FindDialog::FindDialog(QWidget* parent, languageEngine* lang)
    : QDialog(parent), ui(new Ui::FindDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    if (!lang)
        lang = WidgetEnv::language();
    if (lang) {
        setWindowTitle(lang->sql(QStringLiteral("find_title")));
        ui->btnFind->setText(lang->sql(QStringLiteral("find_btn")));
    }
    connect(ui->btnFind, &QPushButton::clicked, this, &QDialog::accept);
}

FindDialog::~FindDialog()
{
    delete ui;
}

QString FindDialog::substring() const
{
    return ui->edFind->text();
}

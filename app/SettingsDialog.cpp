#include "SettingsDialog.h"
#include "ui_SettingsDialog.h"

#include "Settings.h"
#include "languageEngine.h"

SettingsDialog::SettingsDialog(languageEngine* lang, Settings* settings, QWidget* parent)
    : QDialog(parent), ui(new Ui::SettingsDialog), settingsStore(settings), lang(lang)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.ico")));

    const QList<QStringList> languages = lang->listLanguages();
    if (!languages.isEmpty())
        changeLanguage();

    for (const QStringList& entry : languages) {
        const QString base = entry.value(1);
        const QString shown = base.left(1).toUpper() + base.mid(1).toLower()
                              + QStringLiteral(" - ") + entry.value(2);
        ui->language->addItem(shown);
    }
    if (languages.isEmpty())
        ui->language->addItem(QStringLiteral("English"));
    else
        ui->language->setCurrentIndex(lang->currentIndex);

    ui->sbMaxFlow->setValue(settingsStore->MaxLinesFlow);
    ui->sbMaxSess->setValue(settingsStore->MaxSessions);
    ui->sbMemory->setValue(settingsStore->MemoryBudget);
    ui->chTunnel->setChecked(settingsStore->AlwaysTunneling);
    ui->updates->setChecked(settingsStore->CheckUpdate);
    ui->openTab->setChecked(settingsStore->AutoOpenNewSession);
    ui->autoStart->setChecked(settingsStore->AutoStart);
    ui->stayOnTop->setChecked(settingsStore->StayOnTop);
}

SettingsDialog::~SettingsDialog()
{
    delete ui;
}

void SettingsDialog::changeLanguage()
{
    setWindowTitle(lang->settings(QStringLiteral("settings_title")));
    ui->lbl1->setTitle(lang->settings(QStringLiteral("general_group")));
    ui->lbl2->setText(lang->settings(QStringLiteral("language_str")));
    ui->updates->setText(lang->settings(QStringLiteral("check_new_str")));
    ui->autoStart->setText(lang->settings(QStringLiteral("auto_start_str")));
    ui->openTab->setText(lang->settings(QStringLiteral("auto_open_str")));
    ui->stayOnTop->setText(lang->settings(QStringLiteral("stay_on_top_str")));
    ui->lbMaxFlow->setText(lang->settings(QStringLiteral("max_lines_in_flow_str")));
    ui->lbMaxSess->setText(lang->settings(QStringLiteral("max_sessions_in_sessions_str")));
    ui->lbMemory->setText(lang->settings(QStringLiteral("memory_budget_str")));
    ui->chTunnel->setText(lang->settings(QStringLiteral("always_tunneling_str")));
}

void SettingsDialog::accept()
{
    QDialog::accept();

    auto assign = [](bool& setting, bool value) {
        if (setting != value)
            setting = value;
    };
    assign(settingsStore->CheckUpdate, ui->updates->isChecked());
    assign(settingsStore->AutoOpenNewSession, ui->openTab->isChecked());
    assign(settingsStore->AutoStart, ui->autoStart->isChecked());
    assign(settingsStore->StayOnTop, ui->stayOnTop->isChecked());

    const QList<QStringList> languages = lang->listLanguages();
    const int row = ui->language->currentIndex();
    if (row >= 0 && row < languages.size()) {
        const QString base = languages.at(row).value(1);
        // Emits Settings::changeLanguage only when the language really changed.
        settingsStore->setLanguage(base);
    }

    settingsStore->MaxLinesFlow = ui->sbMaxFlow->value();
    settingsStore->MaxSessions = ui->sbMaxSess->value();
    settingsStore->MemoryBudget = ui->sbMemory->value();
    assign(settingsStore->AlwaysTunneling, ui->chTunnel->isChecked());

    settingsStore->saveGeneral();
}

#pragma once

#include <QDialog>

namespace Ui {
class SettingsDialog;
}
class Settings;
class languageEngine;

/// Modal dialog for the [General] options of settings.ini. Accepting writes
/// the options into the store, saves [General] and switches the language at
/// once when it changed. GUI thread only.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    SettingsDialog(languageEngine* lang, Settings* settings, QWidget* parent = nullptr);
    ~SettingsDialog() override;

public slots:
    void changeLanguage();
    void accept() override;

private:
    Ui::SettingsDialog* ui;
    Settings* settingsStore;
    languageEngine* lang;
};

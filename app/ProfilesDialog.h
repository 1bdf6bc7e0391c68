#pragma once

#include <QDialog>
#include <QList>
#include <QString>

namespace Ui {
class ProfilesDialog;
}
class Settings;
class languageEngine;
struct Profile;

/// Modal dialog that keeps the connection profiles of the settings store:
/// edits the Profile records in place, tests a connection and chooses the
/// current profile. OK saves [Profiles] after a successful test connection;
/// Cancel reloads settings.ini, throwing every edit away. GUI thread only.
class ProfilesDialog : public QDialog
{
    Q_OBJECT
public:
    /// `settings` and `lang` are the program's store and language engine
    /// (the main window's `_settings` and `_le`); neither is owned.
    ProfilesDialog(Settings* settings, languageEngine* lang, QWidget* parent = nullptr);
    ~ProfilesDialog() override;

    /// Name of the database connection used for Test and OK.
    static QString testConnectionName() { return QStringLiteral("Profile test"); }

public slots:
    void accept() override;
    void reject() override;

private slots:
    void on_listProfiles_currentRowChanged(int row);
    void on_cbxConMet_currentIndexChanged(int index);
    void on_cbxDbType_currentIndexChanged(int index);
    void on_edName_textChanged(const QString& text);
    void on_edName_editingFinished();
    void on_edHost_editingFinished();
    void on_chbSCheck_clicked(bool checked);
    void on_chbInterPass_clicked(bool checked);
    void on_btnNew_clicked();
    void on_btnDelete_clicked();
    void on_btnTest_clicked();

private:
    void loadLanguage();
    void loadListProfiles();
    void setValuesProfile();
    void writeProfile(int row);
    void addProfile();
    /// Writes the form into the current profile and opens the test
    /// connection in a thread of its own, running the event loop (without
    /// user input) until it is done; `errorType` receives the failure's
    /// QSqlError type. True when it opened.
    bool openTestConnection(int* errorType);
    static QIcon dbTypeIcon(int dbType);

    Ui::ProfilesDialog* ui;
    Settings* settingsStore;
    QList<Profile*>* profileList;
    languageEngine* lang;
    int currentRow = -1;
    bool skipWrite = false;
    int nextNumber = 2;
    /// A test connection is being opened: OK, Test and Cancel wait for it.
    bool testing = false;
};

#include "ProfilesDialog.h"
#include "ui_ProfilesDialog.h"

#include "DbConnection.h"
#include "InterPassDialog.h"
#include "Settings.h"
#include "languageEngine.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSqlError>
#include <QThread>

#include <memory>

ProfilesDialog::ProfilesDialog(Settings* settings, languageEngine* lang, QWidget* parent)
    : QDialog(parent), ui(new Ui::ProfilesDialog), settingsStore(settings),
      profileList(&settings->profiles), lang(lang)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    loadLanguage();
    loadListProfiles();
    connect(ui->btnOK, &QPushButton::clicked, this, &ProfilesDialog::accept);
    connect(ui->listProfiles, &QListWidget::itemDoubleClicked, this, &ProfilesDialog::accept);
    connect(ui->btnCancel, &QPushButton::clicked, this, &ProfilesDialog::reject);
}

ProfilesDialog::~ProfilesDialog()
{
    delete ui;
}

QIcon ProfilesDialog::dbTypeIcon(int dbType)
{
    switch (dbType) {
    case 0: return QIcon(QStringLiteral(":/images/mysql.png"));
    case 1: return QIcon(QStringLiteral(":/images/mariadb.png"));
    case 2: return QIcon(QStringLiteral(":/images/percona.png"));
    default: return QIcon();
    }
}

void ProfilesDialog::loadLanguage()
{
    auto t = [this](const char* key) { return lang->connections(QLatin1String(key)); };
    setWindowTitle(t("connections_title"));
    ui->btnNew->setText(t("new_btn"));
    ui->btnDelete->setText(t("delete_btn"));
    ui->btnTest->setText(t("test_btn"));
    ui->btnCancel->setText(t("cancel_btn"));
    ui->tabWidget->setTabText(0, t("server_group"));
    ui->tabWidget->setTabText(1, t("profiler_group"));
    ui->tabWidget->setTabText(2, t("status_group"));
    ui->lblName->setText(t("connect_name_str"));
    ui->lblDbType->setText(t("db_type_str"));
    ui->lblConMet->setText(t("connect_meth_str"));
    ui->lblHost->setText(t("server_host_str"));
    ui->lblPort->setText(t("server_port_str"));
    ui->lblUser->setText(t("server_username"));
    ui->lblPass->setText(t("server_password"));
    ui->lblSocket->setText(t("local_socket_str"));
    ui->chbCompress->setText(t("compres_str"));
    ui->chbSCheck->setText(t("check_status_str"));
    ui->lblPeriod->setText(t("status_str"));
    ui->sbPeriod->setSuffix(t("status_sec_str"));
    ui->lblProfPort->setText(t("profiler_port_str"));
    ui->chbNet->setText(t("net_connect"));
    ui->chbInterPass->setText(t("interact_pass_str"));
}

void ProfilesDialog::loadListProfiles()
{
    profileList = &settingsStore->profiles;
    if (profileList->size() == 1)
        ui->btnDelete->setEnabled(false);
    for (const Profile* p : qAsConst(*profileList))
        ui->listProfiles->addItem(new QListWidgetItem(dbTypeIcon(p->DbType), p->Name));
    ui->listProfiles->setCurrentRow(settingsStore->CurrentProfile);
}

void ProfilesDialog::setValuesProfile()
{
    const int row = ui->listProfiles->currentRow();
    if (row < 0 || row >= profileList->size())
        return;
    const Profile* p = profileList->at(row);
    ui->edName->setText(p->Name);
    ui->cbxDbType->setCurrentIndex(p->DbType);
    ui->cbxConMet->setCurrentIndex(p->ConnectionMethod);
    // The index handler fires only on a change: apply the dependencies always.
    on_cbxConMet_currentIndexChanged(ui->cbxConMet->currentIndex());
    ui->edHost->setText(p->Host);
    ui->sbPort->setValue(int(p->Port));
    ui->edUser->setText(p->User);
    ui->edPass->setText(p->Password);
    ui->edSocket->setText(p->Socket);
    ui->chbCompress->setChecked(p->Compression);
    ui->chbSCheck->setChecked(p->StatusCheck);
    ui->sbPeriod->setValue(int(p->StatusPeriod));
    ui->sbProfPort->setValue(int(p->ProfilerPort));
    ui->chbNet->setChecked(p->NetworkConnections);
    ui->chbInterPass->setChecked(p->InteractPassword);
    if (p->InteractPassword) {
        ui->edPass->setEnabled(false);
        ui->edPass->clear();
    } else {
        ui->edPass->setEnabled(true);
    }
    ui->sbPeriod->setEnabled(p->StatusCheck);
}

void ProfilesDialog::writeProfile(int row)
{
    if (row < 0 || row >= profileList->size())
        return;
    Profile* p = profileList->at(row);
    p->Name = ui->edName->text();
    p->DbType = ui->cbxDbType->currentIndex();
    p->ConnectionMethod = ui->cbxConMet->currentIndex();
    p->Host = ui->edHost->text();
    p->Port = quint32(ui->sbPort->value());
    p->User = ui->edUser->text();
    // A profile that asks for its password keeps the one typed this run.
    if (!p->InteractPassword || !ui->chbInterPass->isChecked())
        p->Password = ui->edPass->text();
    p->Socket = ui->edSocket->text();
    p->Compression = ui->chbCompress->isChecked();
    p->StatusCheck = ui->chbSCheck->isChecked();
    p->StatusPeriod = quint32(ui->sbPeriod->value());
    p->ProfilerPort = quint32(ui->sbProfPort->value());
    p->NetworkConnections = ui->chbNet->isChecked();
    p->InteractPassword = ui->chbInterPass->isChecked();
}

void ProfilesDialog::on_listProfiles_currentRowChanged(int row)
{
    if (skipWrite) {
        skipWrite = false;
        currentRow = row;
        return;
    }
    writeProfile(currentRow);
    currentRow = row;
    setValuesProfile();
}

void ProfilesDialog::on_cbxConMet_currentIndexChanged(int index)
{
    const bool socket = index == 1;
    ui->lblSocket->setEnabled(socket);
    ui->edSocket->setEnabled(socket);
    ui->lblPort->setEnabled(!socket);
    ui->sbPort->setEnabled(!socket);
    if (socket)
        ui->sbPort->setValue(3306);
}

void ProfilesDialog::on_cbxDbType_currentIndexChanged(int index)
{
    QListWidgetItem* item = ui->listProfiles->currentItem();
    if (item && index >= 0 && index <= 2)
        item->setIcon(dbTypeIcon(index));
}

void ProfilesDialog::on_edName_textChanged(const QString& text)
{
    if (QListWidgetItem* item = ui->listProfiles->currentItem())
        item->setText(text);
}

void ProfilesDialog::on_edName_editingFinished()
{
    const int row = ui->listProfiles->currentRow();
    if (row < 0 || row >= profileList->size())
        return;
    const QString stored = profileList->at(row)->Name;
    const QString name = ui->edName->text();
    if (name.isEmpty()) {
        ui->edName->setText(stored);
        return;
    }
    for (int i = 0; i < profileList->size(); ++i) {
        if (i != row && profileList->at(i)->Name == name) {
            ui->edName->setText(stored);
            QMessageBox::warning(this, lang->connections(QStringLiteral("exists_error_title")),
                                 lang->connections(QStringLiteral("exists_error_str")),
                                 QMessageBox::Ok);
            return;
        }
    }
}

void ProfilesDialog::on_edHost_editingFinished()
{
    const int row = ui->listProfiles->currentRow();
    if (row < 0 || row >= profileList->size())
        return;
    if (ui->edHost->text().isEmpty())
        ui->edHost->setText(profileList->at(row)->Host);
}

void ProfilesDialog::on_chbSCheck_clicked(bool checked)
{
    ui->sbPeriod->setEnabled(checked);
}

void ProfilesDialog::on_chbInterPass_clicked(bool checked)
{
    ui->edPass->setEnabled(!checked);
    ui->edPass->clear();
}

void ProfilesDialog::on_btnNew_clicked()
{
    addProfile();
}

void ProfilesDialog::addProfile()
{
    nextNumber = 2;
    static const QRegularExpression numbered(QStringLiteral("(Unknown_(\\d+))"));
    for (const Profile* p : qAsConst(*profileList)) {
        const QRegularExpressionMatch m = numbered.match(p->Name);
        if (m.hasMatch()) {
            bool ok = false;
            const int n = m.captured(2).toInt(&ok);
            if (ok && n >= nextNumber)
                nextNumber = n + 1;
        }
    }
    auto* profile = new Profile;
    profile->Name = QStringLiteral("Unknown_") + QString::number(nextNumber);
    profileList->append(profile);

    ui->listProfiles->addItem(new QListWidgetItem(dbTypeIcon(0), profile->Name));
    ui->listProfiles->setCurrentRow(ui->listProfiles->count() - 1);
    ui->btnDelete->setEnabled(true);
}

void ProfilesDialog::on_btnDelete_clicked()
{
    const int row = ui->listProfiles->currentRow();
    if (row >= 0 && row < profileList->size()) {
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, lang->connections(QStringLiteral("delete_question_title")),
            lang->connections(QStringLiteral("delete_question_str")) + QStringLiteral(" '")
                + profileList->at(row)->Name + QStringLiteral("'?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        if (answer == QMessageBox::Yes) {
            delete profileList->takeAt(row);
            skipWrite = true;
            delete ui->listProfiles->takeItem(row);
            // takeItem moves the current row without passing through the
            // handler when the row index stays the same: clear the flag here.
            skipWrite = false;
            currentRow = ui->listProfiles->currentRow();
            setValuesProfile();
        }
    }
    if (profileList->size() == 1)
        ui->btnDelete->setEnabled(false);
}

bool ProfilesDialog::openTestConnection(int* errorType)
{
    const int row = ui->listProfiles->currentRow();
    writeProfile(row);
    *errorType = QSqlError::UnknownError;
    if (row < 0 || row >= profileList->size())
        return false;
    Profile* p = profileList->at(row);

    if (p->InteractPassword) {
        InterPassDialog ask(lang->connections(QStringLiteral("interact_pass_enter_title")), this);
        ask.exec();
        p->Password = ask.password();
    }
    // The connection is opened in a thread of its own (a far or silent
    // server takes up to the connect timeout); the dialog keeps drawing
    // meanwhile but takes no input.
    struct Outcome
    {
        bool opened = false;
        int errorType = QSqlError::UnknownError;
    };
    auto outcome = std::make_shared<Outcome>();
    const DbConnectionParams params = DbConnectionParams::fromProfile(*p).withOptions(DbConnection::ShortTimeouts);
    QThread* worker = QThread::create([params, outcome]() {
        {
            const QSqlDatabase db = DbConnection::open(params, testConnectionName());
            outcome->opened = db.isOpen();
            if (!outcome->opened)
                outcome->errorType = db.lastError().type();
        }
        DbConnection::close(testConnectionName());
    });
    QEventLoop waiting;
    connect(worker, &QThread::finished, &waiting, &QEventLoop::quit);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    testing = true;
    for (QPushButton* b : {ui->btnTest, ui->btnOK, ui->btnCancel})
        b->setEnabled(false);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    worker->start();
    waiting.exec(QEventLoop::ExcludeUserInputEvents);
    QGuiApplication::restoreOverrideCursor();
    for (QPushButton* b : {ui->btnTest, ui->btnOK, ui->btnCancel})
        b->setEnabled(true);
    testing = false;
    *errorType = outcome->errorType;
    return outcome->opened;
}

void ProfilesDialog::on_btnTest_clicked()
{
    if (testing)
        return;
    int errorType = 0;
    if (openTestConnection(&errorType)) {
        QMessageBox::information(this, lang->connections(QStringLiteral("test_title")),
                                 lang->connections(QStringLiteral("test_success_str")),
                                 QMessageBox::Ok);
    } else {
        QMessageBox::critical(this, lang->connections(QStringLiteral("test_title")),
                              lang->connections(QStringLiteral("test_failed_str")),
                              QMessageBox::Ok);
    }
}

void ProfilesDialog::accept()
{
    if (testing)
        return;
    int errorType = 0;
    if (openTestConnection(&errorType)) {
        QDialog::accept();
        settingsStore->setCurrentProfile(ui->listProfiles->currentRow());
        settingsStore->saveProfiles();
        return;
    }
    // No driver or another kind of failure: the dialog stays open silently.
    if (errorType == QSqlError::ConnectionError) {
        QMessageBox::critical(this, lang->errors(QStringLiteral("error_str")),
                              lang->errors(QStringLiteral("mysql_conn_error")), QMessageBox::Ok);
    }
}

void ProfilesDialog::reject()
{
    if (testing)
        return; // the window's close button while a test connection is under way
    settingsStore->load();
    QDialog::reject();
}

// The main window's update check and About box.

#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "AboutDialog.h"
#include "UpdateCheck.h"
#include "languageEngine.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

void MainWindow::setupUpdateCheck()
{
    network = new QNetworkAccessManager(this);
    connect(network, &QNetworkAccessManager::finished, this, &MainWindow::checkVersion);
    connect(ui->helpBtn, &QPushButton::clicked, this, &MainWindow::onClickHelpBtn);
}

void MainWindow::onClickHelpBtn()
{
    AboutDialog about(_le->about(QStringLiteral("about_title")), _le->about(QStringLiteral("version_str")),
                      _le->about(QStringLiteral("license_str")), _le->about(QStringLiteral("disclaimer_str")),
                      this);
    connect(&about, &AboutDialog::clickUpdate, this, qOverload<>(&MainWindow::checkUpdates));
    about.exec();
}

void MainWindow::checkUpdates()
{
    checkUpdates(true);
}

void MainWindow::checkUpdates(bool response)
{
    if (response)
        announceUpdateResult = true;
    const QUrl base = UpdateCheck::endpoint();
    if (base.isEmpty()) {
        // No update service: nothing leaves the machine.
        if (announceUpdateResult)
            QMessageBox::information(this, _le->update(QStringLiteral("update_title")),
                                     _le->update(QStringLiteral("no_get_info_str")));
        return;
    }
    QNetworkRequest request(UpdateCheck::requestUrl(base, _version, _le->currentLanguage, _bits));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network->get(request);
    // A reply not complete in time is aborted and ends as a failed one.
    QTimer::singleShot(updateTimeoutMs, reply, &QNetworkReply::abort);
}

void MainWindow::checkVersion(QNetworkReply* reply)
{
    reply->deleteLater();
    const UpdateCheck::Answer answer = reply->error() == QNetworkReply::NoError
                                           ? UpdateCheck::readReply(reply->readAll())
                                           : UpdateCheck::Answer();
    const QString title = _le->update(QStringLiteral("update_title"));
    if (!answer.usable) {
        // The quiet start-up check of a machine without network stays quiet.
        if (announceUpdateResult)
            QMessageBox::information(this, title, _le->update(QStringLiteral("no_get_info_str")));
        return;
    }
    if (answer.needUpdate) {
        const QString text = _le->update(QStringLiteral("update_confirm1_str")) + QLatin1Char('\n')
                             + QLatin1Char('v') + answer.version + QLatin1Char('\n')
                             + _le->update(QStringLiteral("update_confirm2_str"));
        QMessageBox box(QMessageBox::Information, title + QStringLiteral(" v") + answer.version, text,
                        QMessageBox::Yes | QMessageBox::No, this);
        box.button(QMessageBox::Yes)->setText(_le->update(QStringLiteral("yes_btn")));
        box.button(QMessageBox::No)->setText(_le->update(QStringLiteral("no_btn")));
        // The answer's link is always an http or https address (see readReply).
        if (box.exec() == QMessageBox::Yes)
            QDesktopServices::openUrl(answer.link);
    } else if (announceUpdateResult) {
        QMessageBox::information(this, title, _le->update(QStringLiteral("no_updates_str")));
    }
}

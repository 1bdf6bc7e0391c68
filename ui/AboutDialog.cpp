#include "AboutDialog.h"
#include "ui_AboutDialog.h"

#include "BuildInfo.h"
#include "MainWindow.h"
#include "UpdateCheck.h"
#include "WidgetEnv.h"
#include "languageEngine.h"

#include <QDesktopServices>
#include <QImageReader>
#include <QMovie>

AboutDialog::AboutDialog(QString title, QString versionText, QString license, QString disclaimer,
                         QWidget* parent)
    : QDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    if (languageEngine* le = WidgetEnv::language()) {
        ui->btnClose->setText(le->about(QStringLiteral("close_btn")));
        ui->btnUpdate->setText(le->about(QStringLiteral("update_btn")));
    }
    ui->version->setText(versionText + QLatin1Char(' ') + MainWindow::_version);
    ui->label_2->setText(license);
    ui->lbl_disclamer->setText(disclaimer);
    setWindowTitle(title);
    connect(ui->btnUpdate, &QPushButton::clicked, this, &AboutDialog::clickUpdate);

    const QUrl page = projectPage();
    if (!page.isEmpty()) {
        const QString address = page.toString(QUrl::FullyEncoded).toHtmlEscaped();
        ui->label_5->setTextFormat(Qt::RichText);
        ui->label_5->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(address));
        ui->label_5->setOpenExternalLinks(false);
        ui->label_5->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        connect(ui->label_5, &QLabel::linkActivated, this, &AboutDialog::onClickGoUrl);
        ui->label->setCursor(Qt::PointingHandCursor);
    }
    showPicture(QStringLiteral(":/images/avatar.gif"));
    connect(ui->label, &ClickableLabel::clicked, this, &AboutDialog::onClickGoUrl);

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

QUrl AboutDialog::projectPage()
{
    const QUrl page(QStringLiteral(QUARVEL_PROJECT_URL), QUrl::StrictMode);
    return UpdateCheck::isWebLink(page) ? page : QUrl();
}

void AboutDialog::showPicture(const QString& path)
{
    delete pictureMovie;
    pictureMovie = nullptr;
    QImageReader reader(path);
    // A single frame would finish at once and be restarted over and over:
    // it is shown as a still picture instead.
    if (reader.supportsAnimation() && reader.imageCount() > 1) {
        pictureMovie = new QMovie(path, QByteArray(), this);
        connect(pictureMovie, &QMovie::finished, this, &AboutDialog::restartMovie);
        ui->label->setMovie(pictureMovie);
        pictureMovie->start();
    } else {
        ui->label->setPixmap(QPixmap(path));
    }
}

void AboutDialog::restartMovie()
{
    if (!pictureMovie)
        return;
    pictureMovie->stop();
    pictureMovie->start();
}

void AboutDialog::onClickGoUrl()
{
    const QUrl page = projectPage();
    if (!page.isEmpty())
        QDesktopServices::openUrl(page);
}

void AboutDialog::on_btnClose_clicked()
{
    close();
}

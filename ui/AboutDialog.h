#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

namespace Ui {
class AboutDialog;
}
class QMovie;

/// The About box: title, version, licence line, disclaimer, the picture and
/// the project link, and a button that asks for an update check
/// (clickUpdate()). Button texts come from the about group of the current
/// language when there is one. Modal, one use. GUI thread only.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    AboutDialog(QString title, QString versionText, QString license, QString disclaimer,
                QWidget* parent = nullptr);
    ~AboutDialog() override;

    /// Shows the picture at `path` in `label`: still when it has a single
    /// frame, as a looping movie only when it has several.
    void showPicture(const QString& path);
    /// The running movie of the picture; null for a still picture.
    QMovie* movie() const { return pictureMovie; }

    /// The project page that the link and the picture open; empty when the
    /// build names none (the link is then plain text and the picture opens nothing).
    static QUrl projectPage();

signals:
    void clickUpdate();

public slots:
    /// Starts the movie again when it has played its loops.
    void restartMovie();
    /// Opens the project page in the desktop's browser, if there is one.
    void onClickGoUrl();
    void on_btnClose_clicked();

private:
    Ui::AboutDialog* ui;
    QMovie* pictureMovie = nullptr;
};

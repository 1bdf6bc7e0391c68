#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class InterPassDialog;
}

/// Asks for the password of a profile that does not store one. GUI thread only.
class InterPassDialog : public QDialog
{
    Q_OBJECT
public:
    /// `title` becomes the window title.
    explicit InterPassDialog(QString title, QWidget* parent = nullptr);
    ~InterPassDialog() override;

    /// The text typed so far (also after the window was closed without OK).
    QString password() const;

private slots:
    void on_pushButton_clicked();

private:
    Ui::InterPassDialog* ui;
};

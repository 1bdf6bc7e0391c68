#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class FilterDialog;
}
class languageEngine;

/// Asks for a statement type (0 all, 1 read, 2 write, 3 errors) and a
/// keyword for a statement list. Modal, one use. GUI thread only.
class FilterDialog : public QDialog
{
    Q_OBJECT
public:
    /// `lang` gives the texts (session group); without it the form's own texts stay.
    FilterDialog(int mode, QString keyword, QWidget* parent = nullptr, languageEngine* lang = nullptr);
    ~FilterDialog() override;

    /// The keyword as typed.
    QString keyword() const;
    /// The chosen type; meaningful after the dialog was accepted.
    int mode() const { return chosenMode; }

public slots:
    void accept() override;

private:
    Ui::FilterDialog* ui;
    int chosenMode = 0;
};

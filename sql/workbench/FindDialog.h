#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class FindDialog;
}
class languageEngine;

/// Asks for the text to find in the SQL editor; its button accepts. Modal,
/// one use. GUI thread only.
class FindDialog : public QDialog
{
    Q_OBJECT
public:
    /// `lang` gives the title and button text (SQL editor texts); without it
    /// the engine handed to WidgetEnv is used, and without that the form's texts.
    explicit FindDialog(QWidget* parent, languageEngine* lang = nullptr);
    ~FindDialog() override;

    /// The text typed.
    QString substring() const;

private:
    Ui::FindDialog* ui;
};

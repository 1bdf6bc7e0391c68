#pragma once

#include <QDialog>
#include <QModelIndex>
#include <QString>
#include <QVector>

#include "TwinGroups.h"

namespace Ui {
class TwinWidget;
}
class QTableWidget;
struct SessionData;

/// The statements a session sent more than once with exactly the same text:
/// how often and at which positions. A snapshot: everything shown is copied
/// from the session record in the constructor and the record is never
/// touched afterwards, so the session manager may drop it while the dialog
/// is open. GUI thread only.
class TwinWidget : public QDialog
{
    Q_OBJECT
public:
    enum Column { ColStatement = 0, ColCount, ColPositions };
    /// The positions cell draws at most this many characters (cut after a
    /// whole number, followed by ", …"); its user role holds the whole list.
    static constexpr int positionsShownChars = 200;

    TwinWidget(SessionData* data, QString title, QString sqlHeader, QString countHeader,
               QString positionsHeader, QWidget* parent = nullptr);
    ~TwinWidget() override;

    /// Number of table rows: texts sent at least twice.
    int count() const;
    QTableWidget* table() const;
    /// The text the statement viewer shows.
    QString shownStatement() const;

    /// `numbers` cut to at most `maxChars` characters after a whole position.
    static QString cappedPositions(const QString& numbers, int maxChars = positionsShownChars);

public slots:
    /// Shows the statement of the new current row in the viewer.
    void onSelectRowQuery(int curRow, int curCol, int preRow, int preCol);
    /// Opens the value viewer with the whole content of the cell at `index`
    /// (for a positions cell: every position, not the part drawn).
    void showData(QModelIndex index);

private:
    Ui::TwinWidget* ui;
    /// The repeated groups, in order of first occurrence.
    QVector<TwinElement> twins;
};

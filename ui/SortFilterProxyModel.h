#pragma once

#include <QSortFilterProxyModel>
#include <QString>

/// Filter and sort proxy of the statement lists (live flow, session view).
/// A row passes when one of its statement texts (user role 32) matches the
/// filter pattern and contains the keyword, and, with `onlyErrors`, when its
/// status cell reads "no". GUI thread only.
class SortFilterProxyModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    /// Filter choices shared by the filter dialog and the lists.
    enum Mode { ModeAll = 0, ModeRead = 1, ModeWrite = 2, ModeErrors = 3 };

    explicit SortFilterProxyModel(QObject* parent = nullptr);

    bool onlyErrors = false;   ///< keep only rows whose status cell reads "no"
    QString keyword;           ///< must occur in the statement text, any letter case
    int statusColumn = 1;      ///< column holding "yes"/"no"

    /// The pattern a list sets for `mode`: empty for all and errors.
    static QString patternForMode(int mode);

    /// Applies a filter choice: keyword, errors-only switch, status column
    /// and pattern, then re-filters. `errorStatusColumn` is the status
    /// column used in errors mode (the other modes use column 1).
    void applyMode(int mode, const QString& keyword, int errorStatusColumn = 1);
    /// Lets every row pass again (keyword, errors-only and pattern cleared).
    void clearFilter();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
};

#pragma once

#include <QString>

/// The forms a statement is shown in: one-line, tool tip, highlighted cell.
/// The main window publishes them under the same names. recQuery, remRN and
/// toTooltipStr are [thread-safe]; toHighlightText is GUI thread only.
class TextHelpers
{
public:
    /// Every run of carriage returns and line feeds becomes one space.
    static QString recQuery(QString text);
    /// Every run of spaces, carriage returns and line feeds becomes one space.
    static QString remRN(QString text);
    /// Tool-tip form: tabs as spaces, a leading line feed dropped, lines of
    /// 80 characters, at most ten of them; "[...]" after the tenth when the
    /// text goes on beyond it.
    static QString toTooltipStr(QString text);
    /// One-line highlighted HTML for table cells (comments after "--"
    /// removed); the escaped plain text when the highlighter is missing.
    static QString toHighlightText(QString text);
};

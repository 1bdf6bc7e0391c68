#pragma once

#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <QTextStream>

class QWidget;
class languageEngine;

/// One CSV or XML export file, shared by the statement lists and the result
/// grids. GUI thread only (the failure box); the writing itself touches no
/// widget.
///
/// The file is written to a temporary file beside the target and renamed
/// over it only when everything was written, so a failed export leaves an
/// earlier file as it was and no half-written file behind.
///
/// CSV: every field in double quotes, joined by ";", one line per row, in the
/// system locale's encoding without a byte-order mark. Header texts always
/// have their double quotes doubled; cells when the caller asks for it (the
/// statement lists hand over values already escaped).
///
/// XML (UTF-8) text: &, < and > become entities, a carriage return becomes
/// "&#13;" (so that a parser does not fold CR LF into LF). Characters that
/// XML 1.0 cannot hold at all are mapped to visible ones:
///   - the control characters U+0000..U+001F other than tab, line feed and
///     carriage return become the Unicode control pictures U+2400..U+241F
///     (U+0001 is written as "␁");
///   - a surrogate without its partner, U+FFFE and U+FFFF become U+FFFD.
///
/// XML element names: a column name that is not a valid element name is
/// mapped to one; the element then carries the original name in its
/// attribute `name` (<COUNT___ name="COUNT(*)">). The mapping: every
/// character other than an ASCII letter or digit, "_", "-", "." or an
/// accented Latin letter of U+00C0..U+017E (the letters that every XML 1.0
/// parser takes in names) becomes "_"; a name that does not then start with a
/// letter or "_" gets a leading "_" ("1st" -> "_1st", "a b" -> "a_b",
/// "" -> "_", "Müller" stays). Names starting with "xml" are left as they
/// are: parsers accept them.
class ExportWriter
{
public:
    explicit ExportWriter(const QString& path);

    /// Opens the temporary file; `csv` selects the locale encoding, else UTF-8.
    bool open(bool csv);
    QTextStream& out() { return stream; }
    /// Writes one CSV line of `values`.
    void csvLine(const QStringList& values, bool escapeQuotes);
    /// Renames the temporary file over the target when everything was
    /// written; otherwise drops it. False on any failure (see errorString()).
    bool commit();
    /// The system's reason of the last failure.
    QString errorString() const { return error; }

    /// `value` in double quotes; its own double quotes doubled when `escapeQuotes`.
    static QString csvField(const QString& value, bool escapeQuotes);
    /// `value` as XML character data (see above).
    static QString xmlText(const QString& value);
    /// `name` as a valid XML element name (see above).
    static QString xmlName(const QString& name);
    /// The start tag of the element for column `name`, with the original name
    /// in an attribute when it had to be mapped: "<a_b name=\"a b\">".
    static QString xmlStartTag(const QString& name);
    /// "</" + xmlName(name) + ">".
    static QString xmlEndTag(const QString& name);

    /// Tells the user that `path` could not be written, with the system's
    /// `reason`, in a warning box (object name "exportErrorBox") over `parent`.
    /// Title: the error text of `lang`, "Error" without one. Does not block.
    static void showFailure(QWidget* parent, const QString& path, const QString& reason, languageEngine* lang);

private:
    QSaveFile file;
    QTextStream stream;
    QString error;
};

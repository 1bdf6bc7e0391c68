#pragma once

#include <QString>
#include <QStringList>

/// The pattern of a statement: the statement with its literal values replaced
/// by placeholders, so that statements that differ only in their values fall
/// into one pattern. Pure functions; [thread-safe].
///
/// Rules, in the order a reader meets them:
///  - String literals ('…' and "…", with backslash escapes and doubled
///    quotes inside; with an X, B or N prefix or a character set introducer
///    such as _utf8mb4) become `?`:
///      WHERE name = 'O''Brien'           ->  WHERE name = ?
///      WHERE k = _utf8mb4'x'             ->  WHERE k = ?
///  - Numbers become `?`: integers, decimals, exponents, hexadecimal (0x1F,
///    X'1F'), bits (0b101, b'101'), and a sign that cannot be a subtraction
///    goes with its number:
///      LIMIT 10, 20                      ->  LIMIT ?, ?
///      WHERE a = -1.5e3 AND b = 0xFF     ->  WHERE a = ? AND b = ?
///      SET x = x - 1                     ->  SET x = x - ?
///    NULL, TRUE and FALSE stay. Placeholders of prepared statements are
///    already `?` and stay, so a prepared statement and its text form share
///    a pattern. A column position (ORDER BY 2) is a number like any other.
///  - A list after IN made only of values becomes `(...)`, whatever its
///    length; consecutive rows of a VALUES list that read the same after the
///    rules above are written once:
///      id IN (1, 2, 3)                   ->  id IN (...)
///      VALUES (1,'a'),(2,'b')            ->  VALUES (?, ?)
///    A list that holds anything else (a sub-query, a column, NULL) stays.
///  - Comments are dropped: /* … */, # to the end of the line, and -- with a
///    blank (or the end) after it. Executable comments /*! … */, /*M! … */
///    and optimizer hints /*+ … */ are kept as they are written.
///  - White space: a run of blanks, tabs and line breaks (or a dropped
///    comment) becomes one blank; none after "(" or before ")" and ",", one
///    after ","; none at either end, and trailing semicolons go.
///  - Letter case: the words of SQL (keywords and the common functions) are
///    written in upper case; every other name keeps its case. Backquoted
///    names stay as written, quotes included.
///
/// Left alone: names (also those made of non-ASCII letters), operators and
/// their spacing (a=1 and a = 1 are two patterns), the order of everything,
/// double-quoted text meant as a name (it reads as a string, as the server
/// reads it by default), and statements without literals apart from blanks,
/// comments and keyword case.
namespace Fingerprint {

/// The pattern of `statement`.
QString of(const QString& statement);

/// The tables a pattern names after FROM (with comma joins), JOIN, UPDATE,
/// INTO, TABLE, DESCRIBE/DESC and DELETE … FROM, in order of appearance,
/// each once, backquotes removed ("shop.orders" keeps its database).
QStringList tables(const QString& pattern);

} // namespace Fingerprint

#pragma once

#include <QString>
#include <QStringList>

/// Reading SQL text as the server reads it: statements of a script, whether a
/// statement only reads, the server features a version offers. Pure
/// functions without widgets or connections. [thread-safe]
namespace SqlScript {

/// The statements of `text`, separated by ";" outside quoted strings
/// ('…', "…" with backslash escapes and doubled quotes; `…` with doubled
/// backticks) and outside comments ("-- ", "#", "/* */"). Every statement is
/// taken as typed, only trimmed; pieces holding nothing but white space and
/// comments are left out. A text without such a separator is one statement,
/// exactly as typed (untrimmed). A text holding no statement gives an empty list.
QStringList splitStatements(const QString& text);

/// Whether `statement` only reads: SELECT (without INTO), SHOW, EXPLAIN,
/// DESCRIBE/DESC, HELP, TABLE, VALUES, WITH … SELECT, and EXPLAIN ANALYZE of
/// one of these. Leading comments and parentheses are skipped. Everything
/// else, executable comments ("/*!…*/") included, may change data.
bool isReadOnly(const QString& statement);

/// Whether every statement of `text` (as splitStatements() cuts it) only reads.
bool isReadOnlyScript(const QString& text);

/// Bytes of `text` in UTF-8, counted without encoding it.
qint64 utf8Length(const QString& text);

/// A server's version as "SELECT VERSION()" reports it:
/// "10.11.6-MariaDB-0+deb12u1", "8.0.36", "5.6.10-58.0-log" (Percona).
struct ServerVersion
{
    int major = 0;
    int minor = 0;
    int patch = 0;
    bool mariaDb = false;
    bool valid = false;

    static ServerVersion parse(const QString& text);
    /// EXPLAIN FORMAT=JSON: MariaDB from 10.1, MySQL and Percona from 5.6.5.
    bool supportsJsonExplain() const;
};

} // namespace SqlScript

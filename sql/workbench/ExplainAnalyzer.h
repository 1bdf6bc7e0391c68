#pragma once

#include <QString>
#include <QUrl>

struct ResultSet;

/// The EXPLAIN analyzer web service: an EXPLAIN result as the service's text
/// table and the address that hands it over in the user's browser. [thread-safe]
namespace ExplainAnalyzer {

/// The service's web address without the path. The environment variable
/// QUARVEL_EXPLAIN_ANALYZER_URL replaces it (tests point it at nothing real).
QString baseAddress();

/// The classic EXPLAIN columns as a text table: a header line, then per row
/// "+\n|" and each of id, select_type, table, type, possible_keys, key,
/// key_len, ref, rows, Extra followed by "|" (NULL and missing fields empty).
QString textTable(const ResultSet& explain);

/// baseAddress() + "/explain_analyzer/api/1/" with the query items
/// "raw_explain" (textTable(), every byte outside the unreserved set
/// percent-encoded) and "client" = "Quarvel".
QUrl url(const ResultSet& explain);

} // namespace ExplainAnalyzer

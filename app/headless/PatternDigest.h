#pragma once

#include <QString>

class PatternStats;

/// The top statement patterns by total time as quarvel-capture prints them
/// at the end. [thread-safe] for distinct statistics.
namespace PatternDigest {

/// Blocks for a terminal: per pattern its rank, total time and share,
/// count, the pattern, the times (mean, p50, p95, p99, max), rows, KiB,
/// errors, when first and last seen, and the slowest statement with its
/// session. At most `top` patterns, then the "other" row when patterns were
/// folded.
QString text(const PatternStats& stats, int top);

/// The same as tab-separated values: a header line naming the columns, then
/// one line per pattern (rank "other" for the folded patterns).
QString tsv(const PatternStats& stats, int top);

} // namespace PatternDigest

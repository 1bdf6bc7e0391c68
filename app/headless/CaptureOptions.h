#pragma once

#include <QString>
#include <QStringList>

#include <optional>

struct Profile;

/// Command line of quarvel-capture. Plain value; [thread-safe].
struct CaptureOptions
{
    std::optional<QString> host;         ///< --server HOST[:PORT]
    std::optional<quint16> serverPort;
    std::optional<QString> socket;       ///< --socket PATH (statistics connection by local socket)
    std::optional<quint16> profilerPort; ///< --port N
    std::optional<QString> user;         ///< --user
    std::optional<QString> password;     ///< --password
    /// --archive [FILE]: save every session into the archive file; an empty
    /// text for the window's own file.
    std::optional<QString> archive;
    /// --digest [N]: print the N statement patterns (default 20) that took
    /// the most time at the end; --digest-format tsv for tab-separated values.
    std::optional<int> digest;
    bool digestTsv = false;
    bool noStats = false;                ///< --no-stats
    bool quiet = false;                  ///< --quiet
    bool allInterfaces = false;          ///< --all-interfaces
    bool help = false;
    bool version = false;

    /// Parses the arguments after the program name. On failure returns false
    /// with a one-line message in `error`.
    bool parse(const QStringList& args, QString* error);

    /// Puts the options that were given into `profile` (the others keep the
    /// profile's values).
    void applyTo(Profile* profile) const;

    /// The text printed by --help.
    static QString helpText();

    /// Splits "HOST:PORT", "HOST", "[IPv6]:PORT" or "[IPv6]"; false when the
    /// host is empty or the port is not a number from 1 to 65535.
    static bool splitServer(const QString& text, QString* host, std::optional<quint16>* port);
};

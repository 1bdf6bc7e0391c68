#include "CaptureOptions.h"

#include "Settings.h"

namespace {
bool parsePort(const QString& text, quint16* port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}
} // namespace

bool CaptureOptions::splitServer(const QString& text, QString* host, std::optional<quint16>* port)
{
    QString h = text.trimmed();
    QString portText;
    if (h.startsWith(QLatin1Char('['))) {
        const int close = h.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        const QString rest = h.mid(close + 1);
        h = h.mid(1, close - 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return false;
            portText = rest.mid(1);
            if (portText.isEmpty())
                return false;
        }
    } else {
        const int colon = h.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0) {
            if (h.indexOf(QLatin1Char(':')) != colon)
                return false; // a bare IPv6 address needs brackets when a port follows
            portText = h.mid(colon + 1);
            h = h.left(colon);
            if (portText.isEmpty())
                return false;
        }
    }
    if (h.isEmpty())
        return false;
    port->reset();
    if (!portText.isEmpty()) {
        quint16 p = 0;
        if (!parsePort(portText, &p))
            return false;
        *port = p;
    }
    *host = h;
    return true;
}

bool CaptureOptions::parse(const QStringList& args, QString* error)
{
    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        bool inlineValue = false;
        if (name.startsWith(QLatin1String("--")) && name.contains(QLatin1Char('='))) {
            const int eq = name.indexOf(QLatin1Char('='));
            value = name.mid(eq + 1);
            name = name.left(eq);
            inlineValue = true;
        }
        const auto takeValue = [&](QString* out) {
            if (inlineValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("option %1 needs a value").arg(name);
                return false;
            }
            *out = args[++i];
            return true;
        };
        // An optional value: given inline, or the next argument unless that is an option.
        const auto optionalValue = [&]() {
            if (inlineValue)
                return value;
            if (i + 1 < args.size() && !args.at(i + 1).startsWith(QLatin1Char('-')))
                return args.at(++i);
            return QString();
        };
        const auto noValue = [&]() {
            if (inlineValue) {
                *error = QStringLiteral("option %1 takes no value").arg(name);
                return false;
            }
            return true;
        };

        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            if (!noValue())
                return false;
            help = true;
        } else if (name == QLatin1String("--version")) {
            if (!noValue())
                return false;
            version = true;
        } else if (name == QLatin1String("--quiet") || name == QLatin1String("-q")) {
            if (!noValue())
                return false;
            quiet = true;
        } else if (name == QLatin1String("--no-stats")) {
            if (!noValue())
                return false;
            noStats = true;
        } else if (name == QLatin1String("--all-interfaces")) {
            if (!noValue())
                return false;
            allInterfaces = true;
        } else if (name == QLatin1String("--server")) {
            QString v;
            if (!takeValue(&v))
                return false;
            QString h;
            std::optional<quint16> p;
            if (!splitServer(v, &h, &p)) {
                *error = QStringLiteral("bad server address \"%1\": expected HOST:PORT").arg(v);
                return false;
            }
            host = h;
            serverPort = p;
        } else if (name == QLatin1String("--port")) {
            QString v;
            if (!takeValue(&v))
                return false;
            quint16 p = 0;
            if (!parsePort(v, &p)) {
                *error = QStringLiteral("bad profiler port \"%1\": expected a number from 1 to 65535").arg(v);
                return false;
            }
            profilerPort = p;
        } else if (name == QLatin1String("--user")) {
            QString v;
            if (!takeValue(&v))
                return false;
            if (v.isEmpty()) {
                *error = QStringLiteral("option --user needs a name");
                return false;
            }
            user = v;
        } else if (name == QLatin1String("--password")) {
            QString v;
            if (!takeValue(&v))
                return false;
            password = v;
        } else if (name == QLatin1String("--archive")) {
            // The file is optional: a following option is not taken for it.
            if (inlineValue && value.isEmpty()) {
                *error = QStringLiteral("option --archive= needs a file name");
                return false;
            }
            archive = optionalValue();
        } else if (name == QLatin1String("--digest")) {
            const QString v = optionalValue();
            bool ok = true;
            const int n = v.isEmpty() ? 20 : v.toInt(&ok);
            if (!ok || n < 1) {
                *error = QStringLiteral("option --digest: bad number of patterns \"%1\", expected a positive number").arg(v);
                return false;
            }
            digest = n;
        } else if (name == QLatin1String("--digest-format")) {
            QString v;
            if (!takeValue(&v))
                return false;
            if (v != QLatin1String("text") && v != QLatin1String("tsv")) {
                *error = QStringLiteral("option --digest-format: bad format \"%1\", expected text or tsv").arg(v);
                return false;
            }
            digestTsv = v == QLatin1String("tsv");
            if (!digest)
                digest = 20;
        } else if (name == QLatin1String("--socket")) {
            QString v;
            if (!takeValue(&v))
                return false;
            if (v.isEmpty()) {
                *error = QStringLiteral("option --socket needs a path");
                return false;
            }
            socket = v;
        } else if (name.startsWith(QLatin1Char('-'))) {
            *error = QStringLiteral("unknown option %1").arg(name);
            return false;
        } else {
            *error = QStringLiteral("unexpected argument \"%1\"").arg(name);
            return false;
        }
    }
    return true;
}

void CaptureOptions::applyTo(Profile* profile) const
{
    if (host) {
        profile->Host = *host;
        profile->ConnectionMethod = 0;
        profile->Port = serverPort ? *serverPort : 3306;
    }
    if (socket) {
        profile->Socket = *socket;
        profile->ConnectionMethod = 1;
    }
    if (profilerPort)
        profile->ProfilerPort = *profilerPort;
    if (user)
        profile->User = *user;
    if (password)
        profile->Password = *password;
    if (allInterfaces)
        profile->NetworkConnections = true;
    // The password is given here; never ask for one.
    profile->InteractPassword = false;
}

QString CaptureOptions::helpText()
{
    return QStringLiteral(
        "Usage: quarvel-capture [OPTIONS]\n"
        "\n"
        "Relays MySQL-protocol clients to a database server and prints every\n"
        "statement they send, without a display. Point the clients at the\n"
        "profiler port instead of the server.\n"
        "\n"
        "Without options the current connection profile of settings.ini is used;\n"
        "the options below replace its values for this run (the file is not written).\n"
        "\n"
        "Options:\n"
        "  --server HOST[:PORT]  database server to relay to (port 3306 when omitted;\n"
        "                        IPv6 addresses in brackets: [::1]:3306)\n"
        "  --port N              profiler port to listen on\n"
        "  --all-interfaces      listen on every interface (default: 127.0.0.1 only)\n"
        "  --user NAME           user of the statistics connection\n"
        "  --password TEXT       password of the statistics connection\n"
        "  --socket PATH         open the statistics connection by this local socket\n"
        "  --no-stats            no statistics connection: relay and capture only\n"
        "                        (the server is then not checked at start)\n"
        "  --archive [FILE]      save every session into the archive when it ends\n"
        "                        (default: the desktop program's archive, savedSessions\n"
        "                        beside settings.ini); the window's archive tab opens it\n"
        "  --quiet, -q           print no line per statement or session\n"
        "  --digest [N]          at the end, print the N statement patterns (default 20)\n"
        "                        that took the most time: statements that differ only\n"
        "                        in their values (numbers, strings, IN lists) share a\n"
        "                        pattern; with count, total, mean, p50, p95, p99 and\n"
        "                        maximum time, rows, KiB, errors, first and last seen\n"
        "                        and the slowest statement\n"
        "  --digest-format F     text (default, blocks for a terminal) or tsv (a header\n"
        "                        line, then one tab-separated line per pattern)\n"
        "  --help, -h            show this text\n"
        "  --version             show the program version\n"
        "\n"
        "At start the statistics connection is opened (unless --no-stats); when the\n"
        "server cannot be reached the program ends with a message and exit code 1.\n"
        "While it runs it prints, on standard output:\n"
        "  one line per captured statement, tab-separated:\n"
        "    finished at (yyyy-MM-dd hh:mm:ss.zzz), session number, user, database,\n"
        "    duration in ms, rows returned, KiB received by the client (the answer),\n"
        "    KiB sent by the client (the request), error flag (1 when the server\n"
        "    answered with an error, else 0), the statement on one line;\n"
        "  a line starting with \"#\" when a session opens or closes, and one per\n"
        "  statistics poll of the server.\n"
        "\n"
        "SIGINT (Ctrl+C) or SIGTERM stops it: client connections are closed and a\n"
        "summary is printed: sessions, statements, errors, mean duration, and the ten\n"
        "most frequent statements with their count, total and mean duration in ms.\n"
        "\n"
        "With --archive each session is saved when its connection ends (and at the\n"
        "stop); the summary says how many were saved. A session that cannot be\n"
        "saved is reported on the error output with the reason.\n"
        "\n"
        "Exit codes: 0 after a clean stop, 1 when the server, the profiler port or\n"
        "the archive cannot be used, 2 for bad options, 3 when a session could not\n"
        "be saved into the archive.\n"
        "\n"
        "Message texts come from the language files in $QUARVEL_DATA_DIR/languages\n"
        "(default /usr/share/quarvel/languages) when they can be read.\n");
}

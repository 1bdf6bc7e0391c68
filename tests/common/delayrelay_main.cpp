// delay-relay: makes a local server look far away, for benchmarks and for
// looking at the program by hand.
//   delay-relay <target-host> <target-port> <delay-ms>
// Prints the port it listens on (127.0.0.1), then relays until killed.
#include "DelayRelay.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: delay-relay <target-host> <target-port> <delay-ms>\n");
        return 2;
    }
    DelayRelay relay(args.at(1), quint16(args.at(2).toUInt()), args.at(3).toInt());
    if (relay.port() == 0) {
        std::fprintf(stderr, "delay-relay: cannot listen\n");
        return 1;
    }
    std::printf("%u\n", unsigned(relay.port()));
    std::fflush(stdout);
    return app.exec();
}

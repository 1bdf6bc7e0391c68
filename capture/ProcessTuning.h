#pragma once

#include <QByteArray>
#include <QtGlobal>

#ifdef __GLIBC__
#include <malloc.h>
#endif

/// Environment settings that make the relay and decoder threads cheaper.
/// Call at the top of main(), before the application object exists.
inline void tuneProcessForCapture()
{
    // Every captured statement reads the local time; with TZ unset the C
    // library looks at /etc/localtime again at each reading. Naming the
    // same zone file once spares that without changing the local time.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
    // Qt's own event dispatcher costs the relay threads less per wake-up
    // than the GLib one; nothing here needs GLib's main loop.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", QByteArrayLiteral("1"));
}

/// Hands memory the allocator holds free back to the system. Statements are
/// made in the decoder threads and let go in the main one, so their freed
/// room lies in several allocator arenas, which keep it: after a burst (the
/// main thread a moment behind the decoders) the program would stay at its
/// peak size for good. Takes about a millisecond; call it every few seconds.
inline void returnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

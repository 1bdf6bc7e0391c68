#pragma once
// Orderings between threads that Qt makes where ThreadSanitizer cannot see
// them, because Qt is not built with it: whatever a QThread did before its
// run() returned happens before wait() returns, and whatever a thread did
// before queueing a call happens before the call runs in the receiver's
// thread. Without ThreadSanitizer all of this compiles to nothing extra.

#include <QObject>

#include <utility>

#if defined(__SANITIZE_THREAD__)
#define QUARVEL_THREAD_CHECK 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUARVEL_THREAD_CHECK 1
#endif
#endif
#ifdef QUARVEL_THREAD_CHECK
#include <sanitizer/tsan_interface.h>
#endif

namespace threadcheck {

/// What this thread did so far happens before what any thread does after a later arrive(key).
inline void depart(const void* key)
{
#ifdef QUARVEL_THREAD_CHECK
    __tsan_release(const_cast<void*>(key));
#else
    Q_UNUSED(key)
#endif
}

inline void arrive(const void* key)
{
#ifdef QUARVEL_THREAD_CHECK
    __tsan_acquire(const_cast<void*>(key));
#else
    Q_UNUSED(key)
#endif
}

/// A callable handed to another thread: it departs once it is in place
/// (moved into Qt's queued event) and arrives before it runs or is
/// destroyed there. The key is per kind of callable, not a field, so that
/// nothing of the callable is read before arrive().
template <typename F>
class Handed
{
public:
    explicit Handed(F&& fn) : f(std::move(fn)) { depart(key()); }
    Handed(Handed&& other) noexcept : f(std::move(other.f)) { depart(key()); }
    Handed(const Handed&) = delete;
    Handed& operator=(const Handed&) = delete;
    ~Handed() { arrive(key()); }
    void operator()()
    {
        arrive(key());
        f();
    }

private:
    static const void* key()
    {
        static const char k = 0;
        return &k;
    }
    F f;
};

/// Runs `f` in `receiver`'s thread through its event loop, as
/// QMetaObject::invokeMethod with Qt::QueuedConnection does.
template <typename F>
void queueCall(QObject* receiver, F f)
{
    QMetaObject::invokeMethod(receiver, Handed<F>(std::move(f)), Qt::QueuedConnection);
}

} // namespace threadcheck

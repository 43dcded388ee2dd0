// Lock rules the compiler checks. With clang and -Wthread-safety every field marked
// GUARDED_BY(m) may be touched only while m is held, and every function marked REQUIRES(m) only
// called with it held; other compilers ignore the marks. libstdc++'s std::mutex carries no
// marks, so the shared state of this program is guarded by Mutex and locked by Mutex_Lock.
// Any thread may use them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define THREAD_ANNOTATION(x) __attribute__((x))
#else
#define THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS THREAD_ANNOTATION(no_thread_safety_analysis)

// A mutex the analysis knows. Not recursive.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  bool Try_Lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  // Tells the analysis that the caller holds the mutex (checked only by the analysis).
  void Assert_Held() const ASSERT_CAPABILITY(this) {}

 private:
  friend class Mutex_Lock;
  std::mutex mutex_;
};

// Holds a Mutex for its scope; Unlock and Lock let a scope give it up for a while (a wait, a
// write that must not hold the lock). Waits on a condition variable release it while waiting.
class SCOPED_CAPABILITY Mutex_Lock {
 public:
  explicit Mutex_Lock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~Mutex_Lock() RELEASE() = default;
  Mutex_Lock(const Mutex_Lock&) = delete;
  Mutex_Lock& operator=(const Mutex_Lock&) = delete;

  void Unlock() RELEASE() { lock_.unlock(); }
  void Lock() ACQUIRE() { lock_.lock(); }

  // The predicate runs with the mutex held; the analysis cannot see that through the standard
  // library, so the waits are exempt and their callers hold the lock as far as it knows.
  template <typename Predicate>
  void Wait(std::condition_variable& changed, Predicate ready) NO_THREAD_SAFETY_ANALYSIS {
    changed.wait(lock_, ready);
  }
  template <typename Rep, typename Period, typename Predicate>
  bool Wait_For(std::condition_variable& changed, std::chrono::duration<Rep, Period> timeout,
                Predicate ready) NO_THREAD_SAFETY_ANALYSIS {
    return changed.wait_for(lock_, timeout, ready);
  }
  template <typename Clock, typename Duration, typename Predicate>
  bool Wait_Until(std::condition_variable& changed,
                  std::chrono::time_point<Clock, Duration> deadline,
                  Predicate ready) NO_THREAD_SAFETY_ANALYSIS {
    return changed.wait_until(lock_, deadline, ready);
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

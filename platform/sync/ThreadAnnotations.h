// Clang's thread-safety annotations. Under clang with -Wthread-safety the compiler checks that
// a GUARDED_BY field is touched only with its lock held and that a REQUIRES function is called
// only with that lock held; other compilers see nothing.
#pragma once

#if defined(__clang__)
#define QUELLAN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUELLAN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) QUELLAN_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY QUELLAN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) QUELLAN_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) QUELLAN_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) QUELLAN_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) QUELLAN_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) QUELLAN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) QUELLAN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QUELLAN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) QUELLAN_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) QUELLAN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) QUELLAN_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) QUELLAN_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS QUELLAN_THREAD_ANNOTATION(no_thread_safety_analysis)

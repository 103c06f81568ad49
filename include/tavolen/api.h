#ifndef TAVOLEN_API_H
#define TAVOLEN_API_H

#ifdef __cplusplus
#define TAVOLEN_EXTERN_C extern "C"
#define TAVOLEN_BEGIN_DECLS extern "C" {
#define TAVOLEN_END_DECLS }
#else
#define TAVOLEN_EXTERN_C
#define TAVOLEN_BEGIN_DECLS
#define TAVOLEN_END_DECLS
#endif

/* Only functions marked TAVOLEN_API leave libtavolen.so; everything else is hidden. */
#define TAVOLEN_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define TAVOLEN_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define TAVOLEN_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#endif

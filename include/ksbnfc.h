/* ksbnfc.h: the exported interface of libksbnfc, the BNF grammar compiler
 * and FSG run time. Usable from C and from C++. Everything else in the
 * library is hidden. */
#ifndef KSBNFC_H
#define KSBNFC_H

#if defined(KSBNFC_BUILDING) || defined(__GNUC__)
#define KSBNFC_API __attribute__((visibility("default")))
#else
#define KSBNFC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- diagnostics ---- */

/* ---- compile parameters and messages ---- */

/* ---- code pages ---- */

/* ---- compiler ---- */

/* ---- run time ---- */

#ifdef __cplusplus
}
#endif

/* ---- C++-only exports ---- */
#ifdef __cplusplus
#endif

#endif /* KSBNFC_H */

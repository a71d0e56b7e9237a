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

/* Version of the library and its tools; the build takes its version from
 * these lines. */
#define KSBNFC_VERSION_MAJOR 1
#define KSBNFC_VERSION_MINOR 0
#define KSBNFC_VERSION_PATCH 0
#define KSBNFC_VERSION "1.0.0"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- diagnostics ---- */

/* The text of the last error, or the warnings collected during the current
 * call (see KsGetMessage). */
KSBNFC_API extern char KsMsgBuf[2000];
/* Debug level: 0 prints nothing. */
KSBNFC_API extern int dbglevel;
/* Warning mode: 0 discards, positive collects in KsMsgBuf, negative prints. */
KSBNFC_API extern int warnings;

/* ---- compile parameters and messages ---- */

/* One compile parameter. `value` holds a pointer to a NUL-terminated string
 * for "bnfFile", "fsgFile" and "fsgDirectory", an integer otherwise. Reading
 * a list sets the `name` of every consumed record to null. */
typedef struct KsArg {
    char* name;
    long value;
} KsArg;

/* Phrase flags stored in the FSG file ("fsgFlags"). */
#define PV_PHRASE_ALLOW_SILENCES       0x10
#define PV_PHRASE_SHOW_SILENCES        0x20
#define PV_PHRASE_NO_SILENCES          0x40
#define PV_PHRASE_CONST_PROBABILITIES  0x80
#define PV_PHRASE_ALLOW_INSERTIONS     0x100
#define PV_PHRASE_SHOW_INSERTIONS      0x200
#define PV_PHRASE_NO_INSERTIONS        0x400
#define PV_PHRASE_NORMALIZE            0x800
#define PV_PHRASE_DONT_NORMALIZE       0x1000
#define PV_PHRASE_SILENCE_MASK         0x70
#define PV_PHRASE_INSERTION_MASK       0x700

/* Stores the address of the message buffer in *message; returns 0. The text
 * stays valid until the next exported call. */
KSBNFC_API int KsGetMessage(char** message);

/* ---- code pages ---- */
/* The process-wide code page decides which bytes lead a two-byte character
 * and how bytes fold for case-insensitive comparison. None of these fail.
 * Under KS_CP_UTF8 a character is a whole UTF-8 sequence, letters fold by
 * Unicode simple case folding, dbcsleadbyte is 0 for every byte and
 * ks_tolower_ folds ASCII only (the ks_str* functions fold the rest). */
#define KS_CP_UTF8 65001UL
KSBNFC_API int ks_set_cp(unsigned long cp); /* 0: from the environment; returns max bytes per char (4 for UTF-8) */
KSBNFC_API unsigned long ks_get_cp(void);   /* chooses from the environment on first use */
KSBNFC_API int dbcsleadbyte(int ch);
KSBNFC_API int ks_strnicmp(const char* s1, const char* s2, int size);
KSBNFC_API int ks_stricmp(const char* s1, const char* s2);
KSBNFC_API char* ks_strlwr(char* str);
KSBNFC_API char* ks_strupr(char* str);
/* Lower-casing table of the current code page (256 entries). */
KSBNFC_API extern const unsigned char* ks_tolower_;
/* Byte conversion between code pages 1252 and 850; each the inverse of the other. */
KSBNFC_API extern const unsigned char c1252to850[256];
KSBNFC_API extern const unsigned char c850to1252[256];

/* ---- compiler ---- */

/* Compiles a BNF grammar file into one FSG file per root. The parameters
 * ("bnfFile" is required) are consumed from args as KsGetArg does. Returns
 * 0 on success, 1 when it succeeded with warnings in KsMsgBuf, 1000 on error
 * (the text through KsGetMessage). Files written for earlier roots stay on
 * disk when a later root fails. */
KSBNFC_API int KsCompileGrammar(int nargs, KsArg* args);

/* ---- run time ---- */
/* Threads: matching changes nothing in a loaded grammar, so KsTest,
 * KsGetTranslation, KsGetTranslation2 and KsFindSubStrs may run on one
 * grammar handle from several threads at once (each search handle belongs
 * to one thread at a time). Loading, unloading and registering externs must
 * not overlap other calls, nor may ks_set_cp. A grammar is matched in its
 * own code page (UTF-8 for one stored as UTF-8, else the process code page
 * it was loaded in); matching never changes the process code page. The
 * message text (KsMsgBuf, KsGetMessage) and the switches stay process-wide:
 * a failing call on one thread may overwrite the text another thread is
 * about to read.
 * Handles are untyped. Word arrays are NUL-terminated C strings ending with
 * a null pointer. Functions returning int follow the failure convention:
 * 0 success, 1 success with warnings, 1000 error (text from KsGetMessage);
 * output parameters are written only on success. */

/* Loads the FSG file `name` into a new grammar handle stored in *fsg. */
KSBNFC_API int KsLoadFSG(const char* name, void** fsg);
/* Releases a grammar handle from KsLoadFSG (null allowed); extern grammars
 * stay cached. Always returns 0. */
KSBNFC_API int KsUnloadFSG(void* fsg);
/* Stores in *fsg the extern grammar registered under `name`, loading it from
 * `filename` if it is not registered yet; null if neither. Extern grammars
 * live until the process ends. */
KSBNFC_API int KsLoadExternFSG(const char* name, const char* filename, void** fsg);
/* *result: 2 the grammar accepts the words, 1 it accepts a continuation of
 * them, 0 neither. */
KSBNFC_API int KsTest(void* fsg, char** words, int* result);
/* *translation: the translation of the first accepting path, or null when
 * the words are not accepted or translate to nothing. The caller releases a
 * translation with free(). */
KSBNFC_API int KsGetTranslation(void* fsg, char** words, char** translation);
/* As KsGetTranslation; vocabs[i] names the word class of words[i], which
 * lets a word match an extern reference of that name. A null entry ends the
 * vocabularies: the words from there on have none. */
KSBNFC_API int KsGetTranslation2(void* fsg, char** words, char** vocabs, char** translation);
/* Searches every start position for stretches the grammar accepts; stores a
 * search handle to read with KsGetNextSubStr and release with KsFreeSubStrs. */
KSBNFC_API int KsFindSubStrs(char** words, void* fsg, void** subStrsHandler);
/* The next result, newest first; null when none is left. */
KSBNFC_API void* KsGetNextSubStr(void* subStrsHandler);
/* Index of the first and of the last word of a result, and its probability. */
KSBNFC_API int KsGetSubStrStart(void* substr);
KSBNFC_API int KsGetSubStrEnd(void* substr);
KSBNFC_API double KsGetSubStrProb(void* substr);
/* Releases a search handle and all its results (null allowed). */
KSBNFC_API void KsFreeSubStrs(void* subStrsHandler);
/* Returns 0. */
KSBNFC_API int KsMemStats(void);
/* Does nothing. */
KSBNFC_API void KsDelete(void* x);

#ifdef __cplusplus
}
#endif

/* ---- C++-only exports ---- */
#ifdef __cplusplus
/* Looks up `name` in the first n records of args, consuming the match and
 * storing its value in a. Returns 1 if found, else 0 (a untouched). A name
 * given twice throws "duplicate parameter %s". */
KSBNFC_API int KsGetArg(int n, KsArg* args, const char* name, int& a);
KSBNFC_API int KsGetArg(int n, KsArg* args, const char* name, char*& a);
/* Code-page aware counterparts of the <string.h> search functions: in a
 * two-byte code page they never match inside a two-byte character. */
KSBNFC_API char* ks_strchr(const char* s, int ch);
KSBNFC_API char* ks_strrchr(const char* s, int ch);
KSBNFC_API int ks_strspn(const char* s, const char* t);
KSBNFC_API int ks_strcspn(const char* s, const char* t);
KSBNFC_API char* ks_strpbrk(const char* s, const char* t);
KSBNFC_API char* ks_strtok(char* s, const char* t); /* one saved position per process */
#endif

#endif /* KSBNFC_H */

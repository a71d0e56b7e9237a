// nlsfunc.h: code pages and multibyte (DBCS) text.
#ifndef KSBNFC_NLSFUNC_H
#define KSBNFC_NLSFUNC_H

#include "ksbnfc.h"

// Character stepping in the current code page. A lead byte and the byte after
// it form one character; everything else is one byte. Exported with C++
// linkage alongside the other ks_str* helpers.
KSBNFC_API int _mbsnextc(const unsigned char* s);      // lead*256 + trail, or the byte
KSBNFC_API unsigned char* _mbsinc(const unsigned char* s); // s + 2 after a lead byte, else s + 1

inline int _mbsnextc(const char* s) { return _mbsnextc(reinterpret_cast<const unsigned char*>(s)); }
inline char* _mbsinc(const char* s) { return reinterpret_cast<char*>(_mbsinc(reinterpret_cast<const unsigned char*>(s))); }

// The code-page state (see ks_set_cp). Read by the stepping functions; only
// ks_set_cp writes it.
extern unsigned long codepage;
extern int isSBCS;
extern int dbLo1, dbHi1, dbLo2, dbHi2;

// The three lower-casing tables ks_tolower_ may point at.
extern const unsigned char ks_tolower_C[256];
extern const unsigned char ks_tolower_1252[256];
extern const unsigned char ks_tolower_850[256];

#endif // KSBNFC_NLSFUNC_H

// nlsfunc.h: code pages and multibyte text: the two-byte (DBCS) code pages
// and UTF-8 (65001), with the library-private helpers for UTF-8 sequences.
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
// 1 under UTF-8. There no byte is a DBCS lead byte (dbcsleadbyte is 0) and
// isSBCS is 0: a character is the whole sequence, one to four bytes.
extern int isUTF8;
// Bytes below mbLo are always whole one-byte characters (ASCII under UTF-8,
// everything below the first lead byte otherwise): scanners take them
// without calling the stepping functions.
extern int mbLo;

const unsigned long kCodePageUTF8 = KS_CP_UTF8;

// Character codes under UTF-8 are code points. A byte that does not start a
// valid sequence is a character of its own with the code kUtf8Stray + byte
// (a surrogate, which no valid sequence decodes to), so that every text
// steps, compares and copies back byte for byte, and a stray byte never
// equals a valid character.
const unsigned kUtf8Stray = 0xDC00;

// The valid UTF-8 sequence at p, reading no byte at or past end (null: up to
// the NUL): its length 1 to 4 with *code set, or 0 when the bytes there are
// no valid sequence (a stray continuation byte, an overlong form, a
// surrogate, a code above U+10FFFF, a sequence cut short).
int Utf8Decode(const unsigned char* p, const unsigned char* end, unsigned* code);
// Writes the code as UTF-8 (a stray byte's code as that byte) and returns the
// number of bytes, 1 to 4.
int Utf8Encode(unsigned code, unsigned char* out);
// Unicode simple case folding of a code point; other codes are returned as
// they are.
unsigned FoldCase(unsigned code);
// Writes the character code as text in the current code page (as the
// stepping functions produce it) and returns the byte count, 1 to 4: UTF-8
// under 65001, else the high byte first when bits 8 to 15 are set.
int CharBytes(unsigned code, unsigned char* out);
// Whether s is whole characters of the current code page: always under the
// one- and two-byte code pages; under UTF-8, whether it is valid UTF-8.
bool TextIsValid(const char* s);

// The rules of one code page: which bytes lead a two-byte character, how
// text steps, folds and compares. ks_set_cp installs one as the process code
// page (the globals above mirror it); a loaded grammar keeps its own and the
// run time passes it down, so that matching never changes process-wide state
// and a grammar stored as UTF-8 is matched in UTF-8 whatever the process code
// page is.
struct TCodePage {
    unsigned long cp = 0;
    int sbcs = 1;
    int lo1 = 256, hi1 = 0, lo2 = 0, hi2 = 0; // lead bytes: lo1..hi1 and lo2..hi2
    int utf8 = 0;
    int lo = 256; // mbLo
    const unsigned char* lower = nullptr; // one of the ks_tolower_ tables

    // The rules ks_set_cp(cp) installs (cp not 0).
    static TCodePage For(unsigned long cp);

    bool Lead(int ch) const { return ch >= lo1 && (ch <= hi1 || (ch >= lo2 && ch <= hi2)); }
    // As _mbsnextc, _mbsinc, CharBytes, ks_strnicmp and TextIsValid do in the
    // process code page.
    int NextC(const unsigned char* s) const;
    const unsigned char* Inc(const unsigned char* s) const;
    int Bytes(unsigned code, unsigned char* out) const;
    int StrNICmp(const char* s1, const char* s2, int size) const;
    int StrICmp(const char* s1, const char* s2) const { return StrNICmp(s1, s2, 0x7FFFFFFF); }
    bool Valid(const char* s) const;
};

// The process code page as rules, as the globals above hold it (before the
// first ks_set_cp: one-byte text with ASCII folding).
const TCodePage& ProcessCodePage();

// The three lower-casing tables ks_tolower_ may point at.
extern const unsigned char ks_tolower_C[256];
extern const unsigned char ks_tolower_1252[256];
extern const unsigned char ks_tolower_850[256];

// Whether ks_set_cp knows cp for what it is (every other number would be
// taken as single-byte text with ASCII case folding).
bool KnownCodePage(unsigned long cp);

#endif // KSBNFC_NLSFUNC_H

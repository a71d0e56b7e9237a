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
inline int CharBytes(unsigned code, unsigned char* out)
{
    if (isUTF8 && code >= 0x80) return Utf8Encode(code, out);
    int n = 0;
    if (code & 0xFF00u) out[n++] = (unsigned char)((code >> 8) & 0xFF);
    out[n++] = (unsigned char)(code & 0xFF);
    return n;
}
// Whether s is whole characters of the current code page: always under the
// one- and two-byte code pages; under UTF-8, whether it is valid UTF-8.
bool TextIsValid(const char* s);

// Makes code page cp the process code page for the life of the object and
// puts the previous state back afterwards, when cp is 65001 and differs from
// it; otherwise does nothing. The run time uses it so that a grammar stored
// as UTF-8 is matched and translated in UTF-8 whatever the process code page.
class TCodePageScope {
public:
    explicit TCodePageScope(unsigned long want);
    ~TCodePageScope();
    TCodePageScope(const TCodePageScope&) = delete;
    TCodePageScope& operator=(const TCodePageScope&) = delete;

private:
    bool active;
    // The state ks_set_cp writes, as it was.
    unsigned long cp;
    int sbcs, lo1, hi1, lo2, hi2, utf8, lo;
    const unsigned char* lower;
};

// The three lower-casing tables ks_tolower_ may point at.
extern const unsigned char ks_tolower_C[256];
extern const unsigned char ks_tolower_1252[256];
extern const unsigned char ks_tolower_850[256];

// Whether ks_set_cp knows cp for what it is (every other number would be
// taken as single-byte text with ASCII case folding).
bool KnownCodePage(unsigned long cp);

#endif // KSBNFC_NLSFUNC_H

// tstream.cpp: TStream, the character source of the BNF parser: loading a
// grammar file (with the default-extension retry), escape decoding, the kept
// token buffer and line/column positions for error messages.
#include "common.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kBufferName[] = "<buffer>";

int hexval(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The character at p, never reading at or past e: a lead byte in the last
// position stands alone; under UTF-8 a byte that starts no valid sequence is
// the stray code kUtf8Stray + byte, which peek rejects. Bytes below mbLo (all
// of ASCII in every code page) are answered without the call.
inline mbchar char_at(const unsigned char* p, const unsigned char* e, const unsigned char** next)
{
    if (p[0] < mbLo) {
        *next = p + 1;
        return p[0];
    }
    if (isUTF8) {
        unsigned code;
        int n = Utf8Decode(p, e, &code);
        *next = p + (n ? n : 1);
        return n ? code : kUtf8Stray + p[0];
    }
    if (p + 1 < e && dbcsleadbyte(p[0]) && p[1]) {
        *next = p + 2;
        return (mbchar)(p[0] * 256 + p[1]);
    }
    *next = p + 1;
    return p[0];
}

inline bool stray(mbchar c) { return isUTF8 && c >= kUtf8Stray + 0x80 && c <= kUtf8Stray + 0xFF; }

inline const unsigned char* U(const mbstring& m) { return reinterpret_cast<const unsigned char*>(m.s); }
inline char* C(const unsigned char* p) { return reinterpret_cast<char*>(const_cast<unsigned char*>(p)); }

// Reads the open file fd to its end into a new NUL-terminated buffer; the
// size from lseek is only a first guess, so files that grow, shrink or arrive
// in pieces are read whole. Returns null with errno set on a read error.
char* read_all(int fd, size_t& length)
{
    // Only a regular file's end offset is its length (a directory's may be
    // any large number).
    struct stat st;
    off_t size = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        size = lseek(fd, 0, SEEK_END);
        if (size >= 0) lseek(fd, 0, SEEK_SET);
    }
    size_t cap = size > 0 ? (size_t)size + 1 : 4096;
    char* buf = new char[cap];
    size_t got = 0;
    for (;;) {
        if (got + 1 >= cap) {
            size_t bigger = cap * 2;
            char* fresh = new char[bigger];
            std::memcpy(fresh, buf, got);
            delete[] buf;
            buf = fresh;
            cap = bigger;
        }
        ssize_t n = read(fd, buf + got, cap - 1 - got);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            delete[] buf;
            errno = err;
            return nullptr;
        }
        got += (size_t)n;
    }
    buf[got] = 0;
    length = got;
    return buf;
}

} // namespace

namespace {
thread_local TSourceScope* sources = nullptr;
} // namespace

TSourceScope::TSourceScope(const char* name, const std::string& text) : name_(name), text_(&text), saved_(sources)
{
    sources = this;
}

TSourceScope::~TSourceScope()
{
    sources = saved_;
}

const std::string* TSourceScope::Find(const char* name)
{
    for (TSourceScope* s = sources; s; s = s->saved_)
        if (std::strcmp(s->name_, name) == 0) return s->text_;
    return nullptr;
}

TStream::TStream(const char* _fn, const char* ext)
    : fn(nullptr), line(1), col(1), owns_text(true)
{
    if (const std::string* given = TSourceScope::Find(_fn)) {
        char* text = new char[given->size() + 1];
        std::memcpy(text, given->data(), given->size());
        text[given->size()] = 0;
        fn = Copy(_fn);
        stream = pos = where = mbstring(text);
        end = mbstring(text + given->size());
        return;
    }
    char* retry = nullptr;
    // "-" is the standard input; messages call it "<stdin>", and the
    // includes it names are found from the current directory.
    bool from_input = std::strcmp(_fn, "-") == 0;
    int fd = from_input ? dup(0) : open(_fn, O_RDONLY);
    int err = errno;
    if (fd < 0 && ext && !from_input) {
        splitpath(_fn);
        char* file = makepath("", "", nullptr, nullptr);
        try {
            retry = makepath(nullptr, nullptr, file, ext);
        } catch (...) {
            delete[] file;
            throw;
        }
        delete[] file;
        fd = open(retry, O_RDONLY);
        // Report why the retry failed unless the name as given simply did not
        // exist while something else was wrong with it.
        if (fd < 0 && err == ENOENT) err = errno;
    }
    if (fd < 0) {
        delete[] retry;
        Error("can't open '%s' (%s)", _fn, std::strerror(err));
    }
    size_t length = 0;
    char* text = read_all(fd, length);
    err = errno;
    close(fd);
    if (!text) {
        delete[] retry;
        Error("%s", std::strerror(err));
    }
    fn = retry ? retry : Copy(from_input ? "<stdin>" : _fn);
    stream = pos = where = mbstring(text);
    end = mbstring(text + length);
}

TStream::TStream(const char* s, int l)
    : fn(Copy(kBufferName)), stream(s), pos(s), end(s + (l > 0 ? l : 0)), line(1), col(1), where(s),
      owns_text(false)
{
}

TStream::~TStream()
{
    delete[] fn;
    if (owns_text) delete[] stream.s;
}

mbstring TStream::peek(mbchar& c)
{
    const unsigned char* p = U(pos);
    const unsigned char* e = U(end);
    const unsigned char* next;
    if (p >= e) {
        c = 0;
        return pos;
    }
    if (*p != '\\') {
        c = char_at(p, e, &next);
        if (stray(c)) ErrorMsg("invalid UTF-8 sequence");
        return mbstring(C(next));
    }
    p++;
    unsigned int v = 0;
    if (p + 1 < e && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        const unsigned char* q = p + 2;
        for (int d; q < e && (d = hexval(*q)) >= 0; q++) v = v * 16 + (unsigned)d;
        // Under UTF-8 a byte above 0x7F is part of a character, never one.
        if ((v & 0xFF) == 0 || (isUTF8 && (v & 0xFF) >= 0x80)) ErrorMsg("invalid escape sequence");
        c = (v & 0xFF) | KS_ESCAPED;
        return mbstring(C(q));
    }
    const unsigned char* q = p;
    for (; q < e && *q >= '0' && *q <= '7'; q++) v = v * 8 + (unsigned)(*q - '0');
    if ((v & 0xFF) != 0) {
        if (isUTF8 && (v & 0xFF) >= 0x80) ErrorMsg("invalid escape sequence");
        c = (v & 0xFF) | KS_ESCAPED;
        return mbstring(C(q));
    }
    if (p >= e) ErrorMsg("invalid escape sequence");
    mbchar ch = char_at(p, e, &next);
    if (ch == 0 || stray(ch)) ErrorMsg("invalid escape sequence");
    c = ch == '\n' ? KS_ESCAPED : ch | KS_ESCAPED;
    return mbstring(C(next));
}

mbchar TStream::Peek()
{
    mbchar c;
    peek(c);
    return c;
}

mbchar TStream::Next()
{
    mbchar c;
    pos = peek(c);
    return c;
}

// Literals are one-byte text compared with whole characters, so a two-byte
// character or a backslash escape never matches part of one.
static const unsigned char* match_literal(const mbstring& pos, const mbstring& end, const char* s)
{
    const unsigned char* p = U(pos);
    const unsigned char* e = U(end);
    for (const unsigned char* q = reinterpret_cast<const unsigned char*>(s); *q; q++) {
        if (p >= e) return nullptr;
        if (char_at(p, e, &p) != *q) return nullptr;
    }
    return p;
}

int TStream::Peek(const char* s)
{
    return match_literal(pos, end, s) != nullptr;
}

int TStream::Next(const char* s)
{
    const unsigned char* p = match_literal(pos, end, s);
    if (!p) return 0;
    pos = mbstring(C(p));
    return 1;
}

int TStream::Keep(const char* s)
{
    if (!Next(s)) return 0;
    PutKept(s);
    return 1;
}

mbchar TStream::Keep()
{
    mbchar c = Next();
    if (c & ~KS_ESCAPED) kept.Add(c & ~KS_ESCAPED);
    return c;
}

void TStream::PutKept(const char* s)
{
    for (const unsigned char* q = reinterpret_cast<const unsigned char*>(s); *q; q++) kept.Add(*q);
}

// Tokens are many and all die with the stream, so they come from its arena,
// sized exactly: a grammar of 65,000 words makes as many tokens.
mbstring TStream::GetKept()
{
    unsigned char b[4];
    size_t n = 1;
    for (int i = 0; i < kept.length; i++) {
        unsigned int v = kept.elements[i];
        n += v == 0 ? 0 : (size_t)CharBytes(v, b);
    }
    char* buf = static_cast<char*>(pool.Alloc(n));
    char* out = buf;
    for (int i = 0; i < kept.length; i++) {
        unsigned int v = kept.elements[i];
        if (v == 0) continue;
        int m = CharBytes(v, b);
        std::memcpy(out, b, (size_t)m);
        out += m;
    }
    *out = 0;
    kept.Clear();
    return mbstring(buf);
}

void TStream::StripTrailingKeptSpaces()
{
    while (kept.length > 0) {
        unsigned int v = kept[kept.length - 1];
        if (v != ' ' && v != '\t' && v != '\r' && v != '\n') break;
        kept.length--;
    }
}

void TStream::count_to_pos()
{
    const unsigned char* w = U(where);
    const unsigned char* p = U(pos);
    const unsigned char* e = U(end);
    while (w < p) {
        if (char_at(w, e, &w) == '\n') {
            line++;
            col = 0;
            if (dbglevel > 0 && line % 10000 == 0) Debug("line %d\n", line);
        }
        col++;
    }
    where = mbstring(C(w));
}

void TStream::Where(int& l, int& c)
{
    count_to_pos();
    l = line;
    c = col;
}

void TStream::ErrorMsg(const char* msg, const char* expected)
{
    count_to_pos();
    TPlace at;
    at.file = fn;
    at.line = line;
    at.col = col;
    at.expected = expected;
    ErrorIn(at, "%s", msg);
}

void TStream::SyntaxError()
{
    ErrorMsg("syntax error");
}

// tfsg_write.cpp: the FSG file writer. Entry points: TFSG::WriteFile and
// WriteBytes (limits, creation, clean-up on failure), TFSG::WriteFileX,
// TSubFSG::WriteIntern and InternLength, the log-probability conversions and
// the writing side of TByteChannel.
//
// Every field goes to the file explicitly as little-endian bytes of a fixed
// width, so the layout does not depend on the compiler's struct layout or on
// the size of long. Sections stream out through a small buffer: a file of
// millions of arcs is never held in memory as a whole.
#include "tfsg.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The most negative LogProb that logp2prob still turns into a positive
// single-precision value (the smallest denormal); one less reads back as 0.
const int kMinLogProb = -11559;
const int kMaxLogProb = 32767;

const char kVersion[8] = {'S', 'A', 'C', 'O', 'K', 'V', '0', '1'};
const char kSignature[8] = {'0', '2', ' ', 'G', 'B', ' ', ' ', ' '};

// A section on its way to the file, in file byte order: the bytes go out
// through a fixed buffer as they come, so writing costs the same few
// kilobytes however many arcs the grammar has. size() counts every byte
// given so far; flush() writes what the buffer still holds.
class Bytes {
public:
    explicit Bytes(TByteChannel& to) : out(to), used(0), total(0), b(new unsigned char[kSize]) {}
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;

    void i32(long long v)
    {
        uint32_t u = (uint32_t)v;
        unsigned char* p = room(4);
        for (int k = 0; k < 4; k++) p[k] = (unsigned char)(u >> (8 * k));
    }
    void u16(long long v)
    {
        uint32_t u = (uint32_t)v;
        unsigned char* p = room(2);
        p[0] = (unsigned char)u;
        p[1] = (unsigned char)(u >> 8);
    }
    void raw(const void* p, size_t n)
    {
        const unsigned char* c = static_cast<const unsigned char*>(p);
        while (n > 0) {
            if (used == kSize) flush();
            size_t k = n < kSize - used ? n : kSize - used;
            std::memcpy(room(k), c, k);
            c += k;
            n -= k;
        }
    }
    // The text and its terminating zero byte, converted through table when given.
    void text(const char* s, size_t n, const unsigned char* table)
    {
        for (size_t k = 0; k < n; k++) {
            unsigned char c = (unsigned char)s[k];
            *room(1) = table ? table[c] : c;
        }
        *room(1) = 0;
    }
    long long size() const { return total; }
    void flush()
    {
        if (used) out.Write(b.get(), used);
        used = 0;
    }

private:
    static const size_t kSize = 1 << 16;
    TByteChannel& out;
    size_t used;
    long long total;
    std::unique_ptr<unsigned char[]> b;

    // n <= kSize bytes of the buffer, written out first when they do not fit.
    unsigned char* room(size_t n)
    {
        if (n > kSize - used) flush();
        unsigned char* p = b.get() + used;
        used += n;
        total += (long long)n;
        return p;
    }
};

size_t TextLength(const TWord* w)
{
    return w && w->word.s ? std::strlen(w->word.s) : 0;
}

// Lengths in the file are int32; a grammar too big for them cannot be stored.
int32_t FileLength(long long n)
{
    if (n > INT32_MAX) Error("FSG file would be larger than 2 GB");
    return (int32_t)n;
}

long long ArcCount(TSubFSG* sub)
{
    long long n = 0;
    for (int i = 0; i < sub->states.length; i++) n += sub->states.elements[i]->arcs.length;
    return n;
}

long long BlockLength(TSubFSG* sub, int with_annos)
{
    long long n = 16 + 4LL * sub->states.length + 8 * ArcCount(sub);
    if (with_annos) n += 4LL * sub->fsg->annos.length;
    return n;
}

void writelong(TByteChannel& out, long l)
{
    uint32_t u = (uint32_t)l;
    unsigned char b[4] = {(unsigned char)u, (unsigned char)(u >> 8), (unsigned char)(u >> 16),
                          (unsigned char)(u >> 24)};
    out.Write(b, 4);
}

// The limits of the file format, checked before anything is written.
void CheckLimits(TFSG* g)
{
    if (TooManyWordsAndExterns(g)) Error("%s", kTooManyWordsAndExterns);
    if (g->annos.length > kMaxIds) Error("more than 64K annotations");
    if (g->states.length > kMaxIds) Error("more than 64K states");
    // Checks beyond the three classic limits: an intern network's NextState
    // has the same 16 bits, and word ids must stay below the intern and
    // extern ids that count down from 0xFFFF.
    for (int k = 0; k < g->intern_fsgs.length; k++)
        if (g->intern_fsgs.elements[k]->states.length > kMaxIds) Error("more than 64K states");
    if ((long long)g->words.length + g->externs.length + g->intern_fsgs.length > 65536)
        Error("more than 64K words, externs and interns");
}

} // namespace

void TByteChannel::Write(const void* buf, size_t len)
{
    if (fd < 0) {
        if (pos + (long long)len > INT32_MAX) Error("FSG file would be larger than 2 GB");
        if ((size_t)pos > out->size()) out->resize((size_t)pos);
        out->replace((size_t)pos, std::min(len, out->size() - (size_t)pos), static_cast<const char*>(buf), len);
        pos += (long long)len;
        return;
    }
    // A short write is not an error by itself: the rest is written again
    // until everything is out or the system reports why it cannot be.
    const char* p = static_cast<const char*>(buf);
    size_t left = len;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left > 0x40000000u ? 0x40000000u : left);
        if (n < 0) {
            if (errno == EINTR) continue;
            Error("%s", std::strerror(errno));
        }
        if (n == 0) Error("%s", std::strerror(ENOSPC));
        p += n;
        left -= (size_t)n;
    }
}

int TFSG::prob2logp(float p)
{
    double l = std::log((double)p) * (double)scale;
    if (!(p > 0) || std::isnan(l)) {
        // No logarithm: keep the arc, with the least probability the file can
        // carry, rather than a value that reads back as an impossible arc.
        Warning("arc probability %g stored as the smallest positive probability", (double)p);
        return kMinLogProb;
    }
    if (l < kMinLogProb) return kMinLogProb;
    if (l > kMaxLogProb) return kMaxLogProb;
    return (int)l;
}

float TFSG::logp2prob(int l)
{
    return (float)std::exp((double)l / (double)scale);
}

int TSubFSG::InternLength(int with_annos)
{
    return FileLength(BlockLength(this, with_annos));
}

void TSubFSG::WriteIntern(TByteChannel& to, int with_annos)
{
    const int S = states.length;
    Bytes out(to);
    out.i32(S + 1);
    long long first = 0;
    for (int i = 0; i < S; i++) {
        out.i32(first);
        first += states.elements[i]->arcs.length;
    }
    out.i32(first); // FirstArcI[S]: the end state has no arcs
    out.i32(first); // nArcs
    for (int i = 0; i < S; i++) {
        TState* s = states.elements[i];
        for (int j = 0; j < s->arcs.length; j++) {
            TArc* a = s->arcs.elements[j];
            out.u16(a->word->id);
            out.u16(a->state ? a->state->id : S);
            out.u16(fsg->prob2logp(a->p));
            out.u16(a->anno->id);
        }
    }
    TWordList& annos = fsg->annos;
    out.i32(with_annos ? annos.length : 0);
    if (with_annos) {
        long long size = 0;
        for (int i = 0; i < annos.length; i++) {
            out.i32(FileLength(size));
            size += i == 0 ? 1 : (long long)TextLength(annos.elements[i]) + 3;
        }
        fsg->ph.AnnotSize = FileLength(size);
    }
    out.flush();
}

void TFSG::WriteFileX(TByteChannel& out)
{
    std::memset(&ph, 0, sizeof ph);
    writelong(out, flags);

    WriteIntern(out, 1);
    long long linterns = BlockLength(this, 1);
    for (int k = 0; k < intern_fsgs.length; k++) {
        intern_fsgs.elements[k]->WriteIntern(out, 0);
        linterns += BlockLength(intern_fsgs.elements[k], 0);
    }

    const unsigned char* table = codepage == 1252 ? c1252to850 : nullptr;
    Bytes names(out);
    for (int j = 0; j < externs.length; j++) {
        // The list holds "<name>"; the file holds the bare name.
        const char* t = externs.elements[j]->word.s;
        size_t n = TextLength(externs.elements[j]);
        if (n >= 2)
            names.text(t + 1, n - 2, table);
        else
            names.text("", 0, nullptr);
    }
    names.flush();

    Bytes texts(out);
    for (int i = 1; i < words.length; i++) {
        const char* t = words.elements[i]->word.s;
        texts.text(t ? t : "", TextLength(words.elements[i]), table);
    }
    texts.flush();

    fh.lHeader = 64;
    fh.nSections = 6;
    fh.lParameters = 4;
    fh.nParameters = 1;
    fh.lInterns = FileLength(linterns);
    fh.nInterns = intern_fsgs.length + 1;
    fh.lExterns = FileLength((long long)names.size());
    fh.nExterns = externs.length;
    fh.lWords = FileLength((long long)texts.size());
    fh.nWords = words.length - 1;
    fh.lPools = 0;
    fh.nPools = 0;
    fh.lEngineData = FileLength((long long)fh.lParameters + fh.lHeader + fh.lInterns + fh.lExterns +
                                fh.lWords);
    // Only UTF-8 grammars record their code page, so every other file stays
    // as it always was.
    const bool record_cp = codepage == (int)kCodePageUTF8;
    fh.lPrivateData = FileLength((long long)ph.AnnotSize + 24 + (record_cp ? kCodePageRecordSize : 0));
    FileLength((long long)fh.lEngineData + fh.lPrivateData);
    ph.AnnotOffset = 24;
    ph.WcisOffset = 0;
    ph.WcisSize = 0;
    std::memcpy(ph.Signature, kSignature, 8);

    Bytes priv(out);
    priv.raw(ph.Signature, 8);
    priv.i32(ph.AnnotOffset);
    priv.i32(ph.AnnotSize);
    priv.i32(ph.WcisOffset);
    priv.i32(ph.WcisSize);
    // Annotation 0 (none) is a lone zero byte; the others are "&text.".
    priv.text("", 0, nullptr);
    for (int i = 1; i < annos.length; i++) {
        const char* t = annos.elements[i]->word.s;
        priv.raw("&", 1);
        priv.raw(t ? t : "", TextLength(annos.elements[i]));
        priv.text(".", 1, nullptr);
    }
    if (record_cp) {
        priv.raw(kCodePageTag, 4);
        priv.i32(codepage);
    }
    priv.flush();

    std::memcpy(fh.version, kVersion, 8);
    Bytes hdr(out);
    hdr.i32(fh.lEngineData);
    hdr.i32(fh.lPrivateData);
    hdr.raw(fh.version, 8);
    hdr.i32(fh.lHeader);
    hdr.i32(fh.nSections);
    hdr.i32(fh.lParameters);
    hdr.i32(fh.nParameters);
    hdr.i32(fh.lInterns);
    hdr.i32(fh.nInterns);
    hdr.i32(fh.lExterns);
    hdr.i32(fh.nExterns);
    hdr.i32(fh.lWords);
    hdr.i32(fh.nWords);
    hdr.i32(fh.lPools);
    hdr.i32(fh.nPools);
    out.Seek(0);
    hdr.flush();
}

const char kTooManyWordsAndExterns[] = "more than 64K words and externs";

bool TooManyWordsAndExterns(TFSG* f)
{
    return f->externs.length + f->words.length > kMaxIds;
}

void TFSG::WriteFile(const char* path)
{
    CodePage();
    if (!normalized) Normalize();
    CheckLimits(this);

    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) Error("can't open '%s' (%s)", path, std::strerror(errno));
    try {
        try {
            TByteChannel out(fd);
            out.Seek(64);
            WriteFileX(out);
        } catch (char*) {
            ::close(fd);
            throw;
        }
        if (::close(fd) < 0) Error("%s", std::strerror(errno));
    } catch (char*) {
        // No partial file survives a failure.
        ::unlink(path);
        throw;
    }
}

void TFSG::WriteBytes(std::string& bytes)
{
    bytes.clear();
    CodePage();
    if (!normalized) Normalize();
    CheckLimits(this);
    try {
        TByteChannel out(&bytes);
        out.Seek(64);
        WriteFileX(out);
    } catch (char*) {
        bytes.clear();
        throw;
    }
}

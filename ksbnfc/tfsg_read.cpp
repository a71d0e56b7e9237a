// tfsg_read.cpp: the FSG file reader and the process-wide extern cache.
// Entry points: TFSG::ReadFile and ReadBytes (with their optional dump),
// TSubFSG::ReadIntern, TFSG::Extern, TFSG::LoadExterns, the reading side of
// TByteChannel and the Flag helper.
//
// A file is untrusted input: every count, length, offset and index is checked
// against the file's size and the other fields before it is used, and a bad
// file is reported as an error naming it, with nothing read out of bounds.
// The descriptor and the buffers are released on every path.
#include "tfsg.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kVersion[8] = {'S', 'A', 'C', 'O', 'K', 'V', '0', '1'};

// What ReadIntern needs to know about the file it reads from. ReadFile
// publishes one for the duration of its read (the library is single-threaded
// and a read never starts another read).
struct ReadContext {
    const char* fn;
    long long size;    // bytes in the file
    long long limit;   // end of the section being read
    long long nannos;  // annotations the main block declares; -1 while unknown
    long long maxanno; // largest AnnotationI an arc uses
};
ReadContext* current = nullptr;

class ContextScope {
public:
    explicit ContextScope(ReadContext* c) : saved(current) { current = c; }
    ~ContextScope() { current = saved; }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

private:
    ReadContext* saved;
};

class FdCloser {
public:
    explicit FdCloser(int f) : fd(f) {}
    ~FdCloser() { ::close(fd); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd;
};

const char* FileName()
{
    return current && current->fn ? current->fn : "FSG file";
}

// Arc records read at a time (8 bytes each).
const long long kArcWindow = 4096;

[[noreturn]] void Truncated()
{
    Error("'%s' is truncated", FileName());
}

[[noreturn]] void Corrupt(const char* what)
{
    Error("'%s' is corrupt: %s", FileName(), what);
}

// Reads exactly len bytes; the end of the file before that is a truncation.
void ReadExact(TByteChannel& in, void* buf, size_t len)
{
    char* p = static_cast<char*>(buf);
    while (len > 0) {
        size_t got = in.Read(p, len);
        if (got == 0) Truncated();
        p += got;
        len -= got;
    }
}

int32_t Get32(const unsigned char* b)
{
    return (int32_t)((uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24);
}

long readlong(TByteChannel& in)
{
    unsigned char b[4];
    ReadExact(in, b, 4);
    return (long)Get32(b);
}

unsigned Get16(const unsigned char* b)
{
    return (unsigned)b[0] | (unsigned)b[1] << 8;
}

// The entry at index i of list, created without a text when missing; an
// existing entry is kept as it is (its text is filled in later).
TWord* Slot(TWordList& list, int i, int id)
{
    if (i < list.length && list.elements[i]) {
        TWord* w = list.elements[i];
        if (w->id != id) Error("id changed (id %d w->id %d)", id, w->id);
        return w;
    }
    return list.Add(i, mbstring(), id);
}

// Splits a section into its first n zero-terminated texts (all of them when
// n < 0). A text that runs past the section is reported with what.
std::vector<char*> Texts(std::vector<char>& area, long long n, const char* what)
{
    std::vector<char*> out;
    size_t pos = 0;
    while ((n < 0 && pos < area.size()) || (long long)out.size() < n) {
        if (pos >= area.size()) Corrupt(what);
        void* end = std::memchr(area.data() + pos, 0, area.size() - pos);
        if (!end) Corrupt(what);
        out.push_back(area.data() + pos);
        pos = (size_t)(static_cast<char*>(end) - area.data()) + 1;
    }
    return out;
}

std::vector<char> ReadArea(TByteChannel& in, long long pos, long long len)
{
    std::vector<char> area((size_t)len);
    in.Seek(pos);
    if (len > 0) ReadExact(in, area.data(), (size_t)len);
    return area;
}

void ConvertText(char* s, const unsigned char* table)
{
    for (; *s; s++) *s = (char)table[(unsigned char)*s];
}

// The code page of the record after the annotation area, or 0 when the
// private area holds none. Read before the word texts, whose conversion
// depends on it; the annotation area itself is checked later.
int RecordedCodePage(TByteChannel& in, long long private_at, long long lprivate)
{
    if (lprivate < 24 + kCodePageRecordSize) return 0;
    unsigned char pr[24];
    in.Seek(private_at);
    ReadExact(in, pr, sizeof pr);
    long long off = Get32(pr + 8), size = Get32(pr + 12);
    if (off < 24 || size < 0 || off + size + kCodePageRecordSize > lprivate) return 0;
    unsigned char rec[kCodePageRecordSize];
    in.Seek(private_at + off + size);
    ReadExact(in, rec, sizeof rec);
    if (std::memcmp(rec, kCodePageTag, 4) != 0) return 0;
    int32_t cp = Get32(rec + 4);
    return cp > 0 ? cp : 0;
}

struct FlagName {
    int mask;
    const char* name;
};
#define KS_FLAG(f) {f, #f}
const FlagName kFlags[] = {
    KS_FLAG(PV_PHRASE_NO_INSERTIONS),  KS_FLAG(PV_PHRASE_ALLOW_INSERTIONS), KS_FLAG(PV_PHRASE_SHOW_INSERTIONS),
    KS_FLAG(PV_PHRASE_NO_SILENCES),    KS_FLAG(PV_PHRASE_ALLOW_SILENCES),   KS_FLAG(PV_PHRASE_SHOW_SILENCES),
    KS_FLAG(PV_PHRASE_NORMALIZE),      KS_FLAG(PV_PHRASE_DONT_NORMALIZE),   KS_FLAG(PV_PHRASE_CONST_PROBABILITIES),
};
#undef KS_FLAG
// Room for every name of kFlags with its "  " and "\n" (about 300 bytes).
const size_t kFlagText = 512;

// The extern cache: grammar name (plain and "<name>") -> index into
// extern_fsgs. Created on first use, never released.
TMap* extern_map = nullptr;
TArray<TFSG*>* extern_fsgs = nullptr;

int MapFind(TMap& map, const char* key)
{
    TMap::Entry probe;
    probe.s = const_cast<char*>(key);
    TMap::Entry* e = map.table.Find(&probe);
    probe.s = nullptr;
    return e ? e->value : -1;
}

} // namespace

size_t TByteChannel::Read(void* buf, size_t len)
{
    if (fd < 0) {
        if (pos >= (long long)size || len == 0) return 0;
        size_t n = std::min(len, size - (size_t)pos);
        std::memcpy(buf, data + pos, n);
        pos += (long long)n;
        return n;
    }
    // One read call each, of at most 1 GB.
    if (len > 0x40000000u) len = 0x40000000u;
    for (;;) {
        ssize_t n = ::read(fd, buf, len);
        if (n >= 0) return (size_t)n;
        if (errno != EINTR) Error("%s", std::strerror(errno));
    }
}

long long TByteChannel::Size()
{
    if (fd < 0) return out ? (long long)out->size() : (long long)size;
    struct stat st;
    if (::fstat(fd, &st) < 0) Error("%s", std::strerror(errno));
    return (long long)st.st_size;
}

long long TByteChannel::Tell()
{
    if (fd < 0) return pos;
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) Error("%s", std::strerror(errno));
    return (long long)at;
}

void TByteChannel::Seek(long long to)
{
    if (fd < 0) {
        if (to < 0) Error("%s", std::strerror(EINVAL));
        pos = to;
        return;
    }
    if (::lseek(fd, (off_t)to, SEEK_SET) < 0) Error("%s", std::strerror(errno));
}

void Flag(char* buf, int flags, int f, const char* s)
{
    // The caller's buffer holds kFlagText bytes (the listing of ReadFile).
    if (!(flags & f)) return;
    size_t used = std::strlen(buf);
    if (used + std::strlen(s) + 4 > kFlagText) return;
    std::strcat(buf, "  ");
    std::strcat(buf, s);
    std::strcat(buf, "\n");
}

void TSubFSG::ReadIntern(TByteChannel& in, int dbg, int with_annos)
{
    ReadContext local = {name.s, 0, 0, -1, 0};
    ReadContext* ctx = current;
    if (!ctx) {
        local.size = local.limit = in.Size();
        ctx = &local;
    }
    ContextScope scope(ctx);

    long long pos = in.Tell();
    // Everything the block holds must lie before the end of its section.
    auto need = [&](long long n) {
        if (pos + n > ctx->limit) {
            if (pos + n > ctx->size) Truncated();
            Corrupt("an intern block runs past the end of its section");
        }
        pos += n;
    };

    const long long ni = (long long)fsg->fh.nInterns - 1;
    const long long ne = fsg->fh.nExterns;
    const long long nw = fsg->fh.nWords;

    need(4);
    long long nStates = readlong(in);
    if (nStates < 1) Corrupt("an intern block has no states");
    need(4 * nStates);
    std::vector<unsigned char> raw((size_t)(4 * nStates));
    ReadExact(in, raw.data(), raw.size());
    std::vector<long long> first((size_t)nStates);
    for (long long i = 0; i < nStates; i++) first[(size_t)i] = Get32(&raw[(size_t)(4 * i)]);
    if (dbg) {
        std::fprintf(KsListing(), "    %lld states\n", nStates);
        for (long long i = 0; i < nStates; i++)
            std::fprintf(KsListing(), "    state %3lld: first arc %3lld\n", i, first[(size_t)i]);
        std::fprintf(KsListing(), "\n");
    }

    need(4);
    long long nArcs = readlong(in);
    if (nArcs < 0) Corrupt("an intern block has a negative arc count");
    need(8 * nArcs);
    // The arc records are read in windows of kArcWindow as the states are
    // built (all at once for the listing, which shows them before the
    // annotations): a copy of a 2-million-arc block would be 16 MB more.
    const long long arcs_at = in.Tell();
    std::vector<unsigned char> arcs;
    long long window = 0; // index of the first arc in `arcs`
    if (dbg) {
        arcs.resize((size_t)(8 * nArcs));
        ReadExact(in, arcs.data(), arcs.size());
        std::fprintf(KsListing(), "    %lld arcs\n", nArcs);
        for (long long j = 0; j < nArcs; j++) {
            const unsigned char* a = &arcs[(size_t)(8 * j)];
            std::fprintf(KsListing(), "    arc %3lld: WordId %5u, NextState %3u, LogProb %4d, AnnotationI %3u\n",
                         j, Get16(a), Get16(a + 2), (int)(int16_t)Get16(a + 4), Get16(a + 6));
        }
        std::fprintf(KsListing(), "\n");
    } else {
        in.Seek(arcs_at + 8 * nArcs);
    }

    // The annotation count comes before the arcs are built, so that their
    // annotation ids can be checked against it.
    need(4);
    long long nAnnotations = readlong(in);
    if (with_annos) {
        if (nAnnotations < 0) Corrupt("the annotation count is negative");
        need(4 * nAnnotations);
        std::vector<unsigned char> offsets((size_t)(4 * nAnnotations));
        ReadExact(in, offsets.data(), offsets.size());
        if (dbg) {
            std::fprintf(KsListing(), "    %lld annotations\n", nAnnotations);
            for (long long i = 0; i < nAnnotations; i++)
                std::fprintf(KsListing(), "    annotation %lld: %d\n", i, Get32(&offsets[(size_t)(4 * i)]));
            std::fprintf(KsListing(), "\n");
        }
        ctx->nannos = nAnnotations;
    }
    const long long end = in.Tell();

    for (long long i = 0; i < nStates; i++) {
        if (first[(size_t)i] < 0 || first[(size_t)i] > nArcs || (i > 0 && first[(size_t)i] < first[(size_t)i - 1])) {
            char what[128];
            std::snprintf(what, sizeof what, "first arc %lld of state %lld decreases or exceeds the %lld arcs",
                          first[(size_t)i], i, nArcs);
            Corrupt(what);
        }
    }

    // Everything sized from the counts: the states' arc arrays exactly, and
    // the arcs in one block, each state's side by side in stored order.
    if (states.nelements < nStates - 1) states.expand((int)(nStates - 1));
    while (states.length < nStates - 1) AddState();
    arcpool.Reserve((size_t)(first[(size_t)nStates - 1] - first[0]));
    int last_logp = 0;
    prob last_p = fsg->logp2prob(0);
    for (long long i = 0; i + 1 < nStates; i++) {
        TState* from = states.elements[i];
        const long long count = first[(size_t)i + 1] - first[(size_t)i];
        if (count > from->arcs.nelements) from->arcs.expand((int)count);
        for (long long j = first[(size_t)i]; j < first[(size_t)i + 1]; j++) {
            if (!dbg && (j < window || j >= window + (long long)arcs.size() / 8)) {
                window = j;
                arcs.resize((size_t)(8 * std::min(kArcWindow, nArcs - j)));
                in.Seek(arcs_at + 8 * j);
                ReadExact(in, arcs.data(), arcs.size());
            }
            const unsigned char* a = &arcs[(size_t)(8 * (j - window))];
            long long w = Get16(a);
            long long next = Get16(a + 2);
            int logp = (int16_t)Get16(a + 4);
            long long anno = Get16(a + 6);

            // Most arcs of a state share their probability: exp once.
            if (logp != last_logp) {
                last_logp = logp;
                last_p = fsg->logp2prob(logp);
            }
            prob p = last_p;
            if (p == 0) Error("arc %lld has zero probability", j);

            TWord* word;
            if (w <= nw)
                word = Slot(fsg->words, (int)w, (int)w);
            else if (w >= 65536 - ni - ne && w < 65536 - ni)
                word = Slot(fsg->externs, (int)(0xFFFF - w - ni), (int)w);
            else if (w >= 65536 - ni)
                word = Slot(fsg->interns, (int)(0xFFFF - w), (int)(0xFFFF - w));
            else
                Error("bad WordId %lld", w);

            if (anno != 0 && ctx->nannos >= 0 && anno >= ctx->nannos) {
                char what[128];
                std::snprintf(what, sizeof what, "arc %lld has annotation %lld of %lld", j, anno, ctx->nannos);
                Corrupt(what);
            }
            if (anno > ctx->maxanno) ctx->maxanno = anno;
            TWord* annotation = Slot(fsg->annos, (int)anno, (int)anno);

            if (next > nStates - 1) {
                char what[128];
                std::snprintf(what, sizeof what, "arc %lld leads to state %lld of %lld", j, next, nStates);
                Corrupt(what);
            }
            TState* to = next < nStates - 1 ? states.elements[next] : nullptr;
            from->AddArcX(to, p, word, annotation, OpNone);
        }
    }
    in.Seek(end);
}

void TFSG::ReadFile(const char* fn, int dbg)
{
    CodePage();

    int fd = ::open(fn, O_RDONLY);
    if (fd < 0) Error("can't open '%s' (%s)", fn, std::strerror(errno));
    FdCloser closer(fd);
    struct stat st;
    if (::fstat(fd, &st) < 0) Error("can't open '%s' (%s)", fn, std::strerror(errno));
    if (S_ISDIR(st.st_mode)) Error("can't open '%s' (%s)", fn, std::strerror(EISDIR));
    TByteChannel in(fd);
    ReadFrom(in, fn, dbg);
}

void TFSG::ReadBytes(const char* data, size_t size, int dbg)
{
    CodePage();
    TByteChannel in(data, size);
    ReadFrom(in, name.s ? name.s : "FSG file", dbg);
}

void TFSG::ReadFrom(TByteChannel& in, const char* fn, int dbg)
{
    ReadContext ctx = {fn, in.Size(), 0, -1, 0};
    ContextScope scope(&ctx);

    unsigned char h[64];
    size_t got = 0;
    while (got < sizeof h) {
        size_t n = in.Read(h + got, sizeof h - got);
        if (n == 0) break;
        got += n;
    }
    if (got >= 16 && dbg) std::fprintf(KsListing(), "version       %.8s\n", (const char*)h + 8);
    if (got < 16 || std::memcmp(h + 8, kVersion, 8) != 0)
        Error("%s does not appear to be a valid .fsg file", fn);
    if (got < sizeof h) Truncated();

    fh.lEngineData = Get32(h + 0);
    fh.lPrivateData = Get32(h + 4);
    std::memcpy(fh.version, h + 8, 8);
    int32_t* fields[] = {&fh.lHeader, &fh.nSections, &fh.lParameters, &fh.nParameters, &fh.lInterns,
                         &fh.nInterns, &fh.lExterns,  &fh.nExterns,     &fh.lWords,      &fh.nWords,
                         &fh.lPools,   &fh.nPools};
    for (size_t k = 0; k < sizeof fields / sizeof fields[0]; k++) *fields[k] = Get32(h + 16 + 4 * k);

    if (dbg) {
        std::fprintf(KsListing(), "\n");
        std::fprintf(KsListing(), "nSections     %d\n", fh.nSections);
        std::fprintf(KsListing(), "nParameters   %d\n", fh.nParameters);
        std::fprintf(KsListing(), "nInterns      %d\n", fh.nInterns);
        std::fprintf(KsListing(), "nExterns      %d\n", fh.nExterns);
        std::fprintf(KsListing(), "nWords        %d\n", fh.nWords);
        std::fprintf(KsListing(), "nPools        %d\n", fh.nPools);
        std::fprintf(KsListing(), "\n");
        std::fprintf(KsListing(), "lEngineData   %d\n", fh.lEngineData);
        std::fprintf(KsListing(), "lPrivateData  %d\n", fh.lPrivateData);
        std::fprintf(KsListing(), "lHeader       %d\n", fh.lHeader);
        std::fprintf(KsListing(), "lParameters   %d\n", fh.lParameters);
        std::fprintf(KsListing(), "lInterns      %d\n", fh.lInterns);
        std::fprintf(KsListing(), "lExterns      %d\n", fh.lExterns);
        std::fprintf(KsListing(), "lWords        %d\n", fh.lWords);
        std::fprintf(KsListing(), "lPools        %d\n", fh.lPools);
        std::fprintf(KsListing(), "\n");
    }

    // The header as a whole, before any of it is used.
    if (fh.lPrivateData < 0 || fh.lHeader < 64 || fh.lParameters < 0 || fh.nParameters < 0 ||
        fh.lInterns < 0 || fh.lExterns < 0 || fh.nExterns < 0 || fh.lWords < 0 || fh.nWords < 0 ||
        fh.lPools < 0)
        Corrupt("a length or count in the header is out of range");
    if (fh.nInterns < 1) Corrupt("the header counts no main grammar");
    if (4LL * fh.nParameters > fh.lParameters) Corrupt("the parameters do not fit their section");
    if ((long long)fh.nWords + 1 + fh.nExterns + (fh.nInterns - 1) > 65536)
        Corrupt("the word, extern and intern ids overlap");
    const long long params = fh.lHeader;
    const long long interns = params + fh.lParameters;
    const long long externs_at = interns + fh.lInterns;
    const long long words_at = externs_at + fh.lExterns;
    const long long pools_at = words_at + fh.lWords;
    const long long private_at = pools_at + fh.lPools;
    if (private_at > ctx.size) Truncated();
    if (fh.lPrivateData > 0 && (fh.lPrivateData < 24 || private_at + fh.lPrivateData > ctx.size)) {
        if (private_at + fh.lPrivateData > ctx.size) Truncated();
        Corrupt("the private area is shorter than its record");
    }

    in.Seek(params);
    for (int i = 0; i < fh.nParameters; i++) {
        flags = (int)readlong(in);
        if (dbg) {
            char text[kFlagText] = "";
            for (const FlagName& f : kFlags) Flag(text, flags, f.mask, f.name);
            std::fprintf(KsListing(), "parameters[%2d]  0x%x\n%s\n", i, (unsigned)flags, text);
        }
    }
    if (dbg) std::fprintf(KsListing(), "\n");

    in.Seek(interns);
    ctx.limit = externs_at;
    if (dbg) std::fprintf(KsListing(), "main grammar\n\n");
    ReadIntern(in, dbg, 1);
    for (int g = 0; g < fh.nInterns - 1; g++) {
        if (dbg) std::fprintf(KsListing(), "intern %d\n\n", g);
        char sub_name[32];
        std::snprintf(sub_name, sizeof sub_name, "intern #%d", g);
        TSubFSG* sub = new TSubFSG(mbstring(sub_name), this);
        // Held before it is filled, so that a failure leaves nothing unowned.
        sub->AddRef();
        intern_fsgs[g] = sub;
        sub->ReadIntern(in, dbg, 0);
    }

    // A recorded code page replaces the process one for this grammar.
    const int recorded = RecordedCodePage(in, private_at, fh.lPrivateData);
    if (recorded) codepage = recorded;

    const long long ni = fh.nInterns - 1;
    {
        std::vector<char> area = ReadArea(in, externs_at, fh.lExterns);
        std::vector<char*> names = Texts(area, fh.nExterns, "the extern names run past their section");
        for (size_t j = 0; j < names.size(); j++) {
            std::string text = std::string("<") + names[j] + ">";
            int id = (int)(0xFFFF - (long long)j - ni);
            externs.Add((int)j, mbstring(text.c_str()), id);
            if (dbg) std::fprintf(KsListing(), "extern %5d: '%s'\n", id, names[j]);
        }
        if (dbg) std::fprintf(KsListing(), "\n");
    }
    {
        std::vector<char> area = ReadArea(in, words_at, fh.lWords);
        words.Add(0, mbstring(""), 0);
        std::vector<char*> texts = Texts(area, fh.nWords, "the word texts run past their section");
        for (size_t i = 0; i < texts.size(); i++) {
            if (codepage == 1252) ConvertText(texts[i], c850to1252);
            if (dbg) std::fprintf(KsListing(), "word %5d: '%s'\n", (int)i + 1, texts[i]);
            words.Add((int)i + 1, mbstring(texts[i]), (int)i + 1);
        }
        if (dbg) std::fprintf(KsListing(), "\n");
    }

    if (fh.lPrivateData > 0) {
        unsigned char pr[24];
        in.Seek(private_at);
        ReadExact(in, pr, sizeof pr);
        std::memcpy(ph.Signature, pr, 8);
        ph.AnnotOffset = Get32(pr + 8);
        ph.AnnotSize = Get32(pr + 12);
        ph.WcisOffset = Get32(pr + 16);
        ph.WcisSize = Get32(pr + 20);
        if (ph.AnnotOffset < 0 || ph.AnnotSize < 0 ||
            (long long)ph.AnnotOffset + ph.AnnotSize > fh.lPrivateData)
            Corrupt("the annotation area lies outside the private area");

        std::vector<char> area = ReadArea(in, private_at + ph.AnnotOffset, ph.AnnotSize);
        std::vector<char*> texts = Texts(area, -1, "an annotation runs past the annotation area");
        for (size_t i = 0; i < texts.size(); i++) {
            char* t = texts[i];
            if (dbg) std::fprintf(KsListing(), "annotation %5d: '%s'\n", (int)i, t);
            size_t n = std::strlen(t);
            if (n > 0 && t[n - 1] == '.') t[n - 1] = 0;
            if (*t == '&') t++;
            if (codepage == 850) ConvertText(t, c1252to850);
            if (i > 0) annos.Add((int)i, mbstring(t), (int)i);
        }
        if (dbg) std::fprintf(KsListing(), "\n");
        if (dbg && recorded) std::fprintf(KsListing(), "codepage      %d\n\n", recorded);
        if (ctx.maxanno > 0 && ctx.maxanno >= (long long)texts.size()) {
            char what[128];
            std::snprintf(what, sizeof what, "annotation %lld lies beyond the annotation area", ctx.maxanno);
            Corrupt(what);
        }
    }

    normalized = 1;
    // Complete before anyone matches, so that matching only reads the grammar.
    BuildMatchIndex(this);
}

namespace {

// The cached grammar `name`; else, with read, a new one that read fills, then
// cached; else null.
TFSG* CachedExtern(const char* name, const std::function<void(TFSG*)>& read)
{
    if (!name) return nullptr;
    // Matches on several threads look externs up at once; a look-up counts
    // its probes in the table.
    static std::recursive_mutex lock;
    std::lock_guard<std::recursive_mutex> hold(lock);
    if (!extern_map) {
        extern_map = new TMap;
        extern_fsgs = new TArray<TFSG*>;
    }
    int i = MapFind(*extern_map, name);
    if (i >= 0) return extern_fsgs->elements[i];
    if (!read) return nullptr;

    std::unique_ptr<TFSG> g(new TFSG(mbstring(name), TFSG::EqNorm));
    read(g.get());
    // The cache's reference: cached grammars live as long as the process.
    g->AddRef();
    int index = extern_fsgs->length;
    extern_fsgs->Add(g.get());
    extern_map->Add(name, index);
    std::string bracketed = std::string("<") + name + ">";
    extern_map->Add(bracketed.c_str(), index);
    return g.release();
}

} // namespace

TFSG* TFSG::Extern(const char* name, const char* filename)
{
    if (!filename) return CachedExtern(name, nullptr);
    return CachedExtern(name, [&](TFSG* g) { g->ReadFile(filename, 0); });
}

TFSG* TFSG::ExternBytes(const char* name, const std::string& bytes)
{
    return CachedExtern(name, [&](TFSG* g) { g->ReadBytes(bytes.data(), bytes.size(), 0); });
}

void TFSG::LoadExterns(const char* fn, int dbg)
{
    (void)dbg; // the extern grammars are read without a dump
    std::string path(fn);
    size_t slash = path.rfind('\\');
    if (slash == std::string::npos) slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // The extension is looked for in the file name only, not in a directory.
    size_t dot = path.rfind('.');
    std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                          ? std::string(".fst")
                          : path.substr(dot);

    // Depth first in extern order, iteratively (chains of externs are input
    // shaped), and each grammar once: grammars that call each other end the
    // walk instead of repeating it forever.
    struct Frame {
        TFSG* g;
        int next;
    };
    std::vector<Frame> stack{{this, 0}};
    std::unordered_set<TFSG*> seen{this};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next >= top.g->externs.length) {
            stack.pop_back();
            continue;
        }
        TWord* w = top.g->externs.elements[top.next++];
        std::string text = w && w->word.s ? w->word.s : "";
        std::string name = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
        std::string file = dir + name + ext;
        TFSG* g = Extern(name.c_str(), file.c_str());
        if (g && seen.insert(g).second) stack.push_back({g, 0});
    }
}

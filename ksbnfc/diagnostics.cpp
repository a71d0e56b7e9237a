// diagnostics.cpp: error, warning and debug reporting, the process-wide
// message buffer and switches, and the Copy string duplicators.
// Entry points: Error, Warning, Debug, KsListing and TListingScope, Copy,
// KsSetMessage.
#include "common.h"

#include <cstdarg>

char KsMsgBuf[2000];
int dbglevel = 0;
int warnings = 0;

namespace {
char errbuf[1000];
char warnbuf[1000] = "\t";
} // namespace

void Error(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(errbuf, sizeof errbuf, fmt, ap);
    va_end(ap);
    throw static_cast<char*>(errbuf);
}

void Warning(const char* fmt, ...)
{
    if (warnings == 0) return;
    // The tab at warnbuf[0] stays; the message gets room for "\n" and the NUL.
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(warnbuf + 1, sizeof warnbuf - 2, fmt, ap);
    va_end(ap);
    std::strcat(warnbuf, "\n");
    if (warnings < 0) {
        std::fprintf(KsListing(), "Warning: %s", warnbuf);
        return;
    }
    // A warning that does not fit is dropped whole; shorter later ones may still go in.
    size_t used = std::strlen(KsMsgBuf), add = std::strlen(warnbuf);
    if (used + add <= sizeof KsMsgBuf - 1) std::memcpy(KsMsgBuf + used, warnbuf, add + 1);
}

void Debug(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(KsListing(), fmt, ap);
    va_end(ap);
    std::fflush(KsListing());
}

namespace {
thread_local std::FILE* listing = nullptr;
} // namespace

std::FILE* KsListing()
{
    return listing ? listing : stdout;
}

TListingScope::TListingScope(std::FILE* f) : saved(listing)
{
    listing = f;
}

TListingScope::~TListingScope()
{
    listing = saved;
}

char* Copy(const char* s)
{
    if (!s) return nullptr;
    size_t n = std::strlen(s);
    char* r = new char[n + 1];
    std::memcpy(r, s, n + 1);
    return r;
}

char* Copy(const char* s, int n)
{
    if (!s) return nullptr;
    if (n < 0) n = 0;
    char* r = new char[(size_t)n + 1];
    std::strncpy(r, s, (size_t)n);
    r[n] = 0;
    return r;
}

void KsSetMessage(const char* msg)
{
    std::snprintf(KsMsgBuf, sizeof KsMsgBuf, "%s", msg ? msg : "");
}

// diagnostics.cpp: error, warning and debug reporting, the process-wide
// message buffer and switches, and the Copy string duplicators.
// Entry points: Error, Warning, Debug, KsListing and TListingScope, Copy,
// KsSetMessage.
#include "common.h"

#include <cstdarg>

char KsMsgBuf[2000];
const char kOutOfMemory[] = "out of memory";
int dbglevel = 0;
int warnings = 0;

namespace {
// Per thread: matching may run on several threads, and its errors must not
// overwrite each other's text before the boundary copies it.
thread_local char errbuf[1000];
char warnbuf[1000] = "\t";
thread_local TRecordedPlace error_place;
thread_local TWarningSink* warning_sink = nullptr;

// The ways a place may be appended to a message's text.
enum class Position { None, In, Line };

// message + the position, in text, which holds size bytes.
void Place(char* text, size_t size, const char* message, const TPlace& at, Position how)
{
    if (how == Position::In)
        std::snprintf(text, size, "%s in \"%s\", line %d, column %d", message, at.file ? at.file : "", at.line, at.col);
    else if (how == Position::Line)
        std::snprintf(text, size, "%s, line %d, column %d", message, at.line, at.col);
    else
        std::snprintf(text, size, "%s", message);
}

[[noreturn]] void Throw(const TPlace* at, Position how, const char* fmt, va_list ap)
{
    char message[sizeof errbuf];
    std::vsnprintf(message, sizeof message, fmt, ap);
    TPlace none;
    const TPlace& where = at ? *at : none;
    Place(errbuf, sizeof errbuf, message, where, how);
    error_place.Set(where);
    error_place.message = message;
    throw static_cast<char*>(errbuf);
}

void Warn(const TPlace* at, Position how, const char* fmt, va_list ap, bool hint = false)
{
    if (warnings == 0 || (hint && !warning_sink)) return;
    char message[sizeof warnbuf];
    std::vsnprintf(message, sizeof message, fmt, ap);
    TPlace none;
    const TPlace& where = at ? *at : none;
    // The tab at warnbuf[0] stays; the message gets room for "\n" and the NUL.
    Place(warnbuf + 1, sizeof warnbuf - 2, message, where, how);
    if (warning_sink) {
        TRecordedPlace place;
        place.Set(where);
        place.message = message;
        warning_sink->Warn(warnbuf + 1, place, hint);
        return;
    }
    std::strcat(warnbuf, "\n");
    if (warnings < 0) {
        std::fprintf(KsListing(), "Warning: %s", warnbuf);
        return;
    }
    // A warning that does not fit is dropped whole; shorter later ones may still go in.
    size_t used = std::strlen(KsMsgBuf), add = std::strlen(warnbuf);
    if (used + add <= sizeof KsMsgBuf - 1) std::memcpy(KsMsgBuf + used, warnbuf, add + 1);
}
} // namespace

void TRecordedPlace::Set(const TPlace& at)
{
    file.assign(at.file ? at.file : "");
    line = at.line;
    col = at.col;
    expected.assign(at.expected ? at.expected : "");
}

void Error(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Throw(nullptr, Position::None, fmt, ap);
}

void ErrorAt(const TPlace& at, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Throw(&at, Position::None, fmt, ap);
}

void ErrorIn(const TPlace& at, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Throw(&at, Position::In, fmt, ap);
}

void ErrorLine(const TPlace& at, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Throw(&at, Position::Line, fmt, ap);
}

void ErrorText(const TPlace& at, const char* message, const char* text)
{
    std::snprintf(errbuf, sizeof errbuf, "%s", text);
    error_place.Set(at);
    error_place.message = message;
    throw static_cast<char*>(errbuf);
}

const TRecordedPlace& LastErrorPlace()
{
    return error_place;
}

void Warning(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Warn(nullptr, Position::None, fmt, ap);
    va_end(ap);
}

void WarningAt(const TPlace& at, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Warn(&at, Position::None, fmt, ap);
    va_end(ap);
}

void WarningLine(const TPlace& at, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Warn(&at, Position::Line, fmt, ap);
    va_end(ap);
}

void WarningIn(const TPlace& at, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Warn(&at, Position::In, fmt, ap);
    va_end(ap);
}

void Notice(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    if (warning_sink) {
        Warn(nullptr, Position::None, fmt, ap);
    } else {
        std::vfprintf(stderr, fmt, ap);
        std::fputc('\n', stderr);
    }
    va_end(ap);
}

void Hint(const TPlace& at, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Warn(&at, Position::None, fmt, ap, true);
    va_end(ap);
}

TWarningScope::TWarningScope(TWarningSink* sink) : saved_(warning_sink)
{
    warning_sink = sink;
}

TWarningScope::~TWarningScope()
{
    warning_sink = saved_;
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

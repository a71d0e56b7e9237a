// paths.cpp: splitting file names into directory, base name and extension and
// joining them again. Entry points: splitpath and makepath (process-wide
// buffers), _splitpath and _makepath (caller's buffers).
#include "common.h"

#include <string>

char Drive[2];
char Dir[KS_PATH_BUF];
char Fname[KS_PATH_BUF];
char Ext[KS_PATH_BUF];

namespace {

// Copies n bytes of src into a KS_PATH_BUF-byte buffer and terminates it;
// full names the whole path for the error when the part does not fit.
void put_part(char* buf, const char* src, size_t n, const char* full)
{
    if (!buf) return;
    if (n >= (size_t)KS_PATH_BUF) Error("path too long: '%s'", full);
    std::memcpy(buf, src, n);
    buf[n] = 0;
}

// full may be one of the output buffers (splitpath(Dir)), so it is copied first.
void split(const char* whole, char* drive, char* dir, char* fn, char* ext)
{
    const std::string copy(whole);
    const char* full = copy.c_str();
    if (drive) drive[0] = 0;
    const char* slash = std::strrchr(full, '/');
    const char* rest = slash ? slash + 1 : full;
    const char* dot = std::strrchr(rest, '.');
    const char* stop = rest + std::strlen(rest);
    // Check every part before writing any, so a failure leaves the buffers
    // as they were.
    if ((size_t)(rest - full) >= (size_t)KS_PATH_BUF || (size_t)(stop - rest) >= (size_t)KS_PATH_BUF)
        Error("path too long: '%s'", full);
    put_part(dir, full, (size_t)(rest - full), full);
    put_part(fn, rest, (size_t)((dot ? dot : stop) - rest), full);
    put_part(ext, dot ? dot : stop, (size_t)(dot ? stop - dot : 0), full);
}

std::string join(const char* dir, const char* fname, const char* ext)
{
    std::string r;
    if (dir) {
        r += dir;
        if (!r.empty() && r.back() != '/') r += '/';
    }
    if (fname) r += fname;
    if (ext && *ext) {
        if (*ext != '.') r += '.';
        r += ext;
    }
    if (r.size() >= (size_t)KS_PATH_BUF) Error("path too long: '%s'", r.c_str());
    return r;
}

} // namespace

void splitpath(const char* full)
{
    split(full, Drive, Dir, Fname, Ext);
}

char* makepath(const char*, const char* dir, const char* fname, const char* ext)
{
    std::string r = join(dir ? dir : Dir, fname ? fname : Fname, ext ? ext : Ext);
    return Copy(r.c_str());
}

void _splitpath(const char* full, char* drive, char* dir, char* fn, char* ext)
{
    split(full, drive, dir, fn, ext);
}

void _makepath(char* full, const char*, const char* dir, const char* fn, const char* ext)
{
    std::string r = join(dir, fn, ext);
    std::memcpy(full, r.c_str(), r.size() + 1);
}

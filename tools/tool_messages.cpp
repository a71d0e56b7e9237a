// tool_messages.cpp: message reformatting for the tools and ProductOutput,
// which moves the library's standard-output printing to standard error.
#include "tool_messages.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

// Reads a decimal number ending at text[end) backwards; returns its start or
// npos when there are no digits.
size_t DigitsBefore(const std::string& text, size_t end)
{
    size_t b = end;
    while (b > 0 && std::isdigit((unsigned char)text[b - 1])) b--;
    return b == end ? std::string::npos : b;
}

// Splits "TEXT<sep>line L, column C" off at its end; sep is what must stand
// before "line". Returns false when the text does not end so.
bool SplitPosition(const std::string& text, const char* sep, std::string& head, std::string& line,
                   std::string& col)
{
    size_t c = DigitsBefore(text, text.size());
    const std::string column = ", column ";
    if (c == std::string::npos || c < column.size() || text.compare(c - column.size(), column.size(), column))
        return false;
    size_t l_end = c - column.size();
    size_t l = DigitsBefore(text, l_end);
    std::string lead = std::string(sep) + "line ";
    if (l == std::string::npos || l < lead.size() || text.compare(l - lead.size(), lead.size(), lead)) return false;
    head = text.substr(0, l - lead.size());
    line = text.substr(l, l_end - l);
    col = text.substr(c);
    return true;
}

} // namespace

std::string FormatMessage(std::string text, const char* kind, const std::string& fallback)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    while (!text.empty() && text[0] == '\t') text.erase(0, 1);
    std::string head, line, col;
    if (SplitPosition(text, "\", ", head, line, col)) {
        size_t q = head.rfind(" in \"");
        if (q != std::string::npos)
            return head.substr(q + 5) + ":" + line + ":" + col + ": " + kind + ": " + head.substr(0, q);
    }
    // Positions written before file names were carried ("..., line L, column C").
    if (SplitPosition(text, ", ", head, line, col) && !fallback.empty())
        return fallback + ":" + line + ":" + col + ": " + kind + ": " + head;
    return fallback + ": " + kind + ": " + text;
}

void PrintWarnings(const char* text, const std::string& fallback, std::FILE* err)
{
    const char* p = text;
    while (p && *p) {
        const char* e = std::strchr(p, '\n');
        std::string one = e ? std::string(p, (size_t)(e - p)) : std::string(p);
        p = e ? e + 1 : nullptr;
        // A warning text may itself end in a line end: that leaves an empty line.
        if (one.find_first_not_of("\t\r ") == std::string::npos) continue;
        std::fprintf(err, "%s\n", FormatMessage(one, "warning", fallback).c_str());
    }
}

ProductOutput::ProductOutput(Filter filter)
{
    std::fflush(stdout);
    int product = dup(1);
    out_ = product >= 0 ? fdopen(product, "wb") : nullptr;
    if (!out_) {
        // Without a second descriptor everything stays where it was.
        if (product >= 0) close(product);
        out_ = stdout;
        return;
    }
    int fds[2];
    if (filter && pipe(fds) == 0) {
        dup2(fds[1], 1);
        close(fds[1]);
        pipe_read_ = fds[0];
        int rd = fds[0];
        thread_ = new std::thread([rd, filter] {
            std::string line;
            char buf[4096];
            ssize_t n;
            auto flush_line = [&] {
                std::string shown = filter(line);
                std::fwrite(shown.data(), 1, shown.size(), stderr);
                std::fflush(stderr);
                line.clear();
            };
            while ((n = read(rd, buf, sizeof buf)) != 0) {
                if (n < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                for (ssize_t i = 0; i < n; i++) {
                    line += buf[i];
                    if (buf[i] == '\n') flush_line();
                }
            }
            if (!line.empty()) flush_line();
        });
    } else {
        dup2(2, 1);
    }
    // The library's lines then reach the terminal in step with the tool's own.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

void ProductOutput::Finish()
{
    std::fflush(stdout);
    if (!thread_) return;
    // Closing the last write end ends the reader.
    dup2(2, 1);
    auto* t = static_cast<std::thread*>(thread_);
    t->join();
    delete t;
    thread_ = nullptr;
    close(pipe_read_);
}

ProductOutput::~ProductOutput()
{
    Finish();
    if (out_ != stdout) std::fclose(out_);
}

// tool_messages.h: what both tools do with the library's messages and with
// its standard output: reformatting a message into FILE:LINE:COLUMN: KIND:
// TEXT, and keeping the library's printing off the standard output that
// carries the tool's product.
#ifndef KSBNFC_TOOLS_TOOL_MESSAGES_H
#define KSBNFC_TOOLS_TOOL_MESSAGES_H

#include <cstdio>
#include <string>

// One library message (an error text, or one warning line without its tab
// and line end) in the form editors and build tools read. A position the
// library appended as ` in "FILE", line L, column C` becomes the prefix
// FILE:L:C; a message without one is put under fallback (a file name, or the
// tool's name when empty).
std::string FormatMessage(std::string text, const char* kind, const std::string& fallback);

// Prints every line of a collected warning text (tab-indented lines, each
// ending in a line feed) as a warning on err.
void PrintWarnings(const char* text, const std::string& fallback, std::FILE* err);

// From construction on, the tool's product goes to product() (the process's
// original standard output) while everything the library prints on standard
// output goes to standard error instead. With a filter, each line the library
// prints is passed through it first (read on a thread as it is printed).
class ProductOutput {
public:
    typedef std::string (*Filter)(const std::string& line);
    explicit ProductOutput(Filter filter = nullptr);
    ~ProductOutput(); // flushes the product and calls Finish
    // Puts the library's standard output on standard error for good and
    // waits until the filter has passed on every line printed so far, so
    // that what the tool prints next comes after it.
    void Finish();
    ProductOutput(const ProductOutput&) = delete;
    ProductOutput& operator=(const ProductOutput&) = delete;
    std::FILE* product() { return out_; }

private:
    std::FILE* out_;
    int pipe_read_ = -1;
    void* thread_ = nullptr;
};

#endif // KSBNFC_TOOLS_TOOL_MESSAGES_H

// tool_options.h: the option reader that ksfsg export and ksspeech share:
// one argument at a time, an option's value from the argument after it, and
// the NAME=FILE of an extern option.
#ifndef KSBNFC_TOOLS_TOOL_OPTIONS_H
#define KSBNFC_TOOLS_TOOL_OPTIONS_H

#include <string>
#include <utility>
#include <vector>

class OptionReader {
public:
    // Reads argv[1] to argv[argc - 1].
    OptionReader(int argc, char** argv) : argc_(argc), argv_(argv) {}

    // Steps to the next argument; false after the last.
    bool Next();
    // The current argument.
    const std::string& Arg() const { return arg_; }
    // Whether it looks like an option ("-" alone is a file: standard input).
    bool IsOption() const { return arg_.size() > 1 && arg_[0] == '-'; }
    // Whether it is --extern or -x.
    bool IsExtern() const { return arg_ == "--extern" || arg_ == "-x"; }
    // Takes the argument after the current one as its value; false when
    // there is none.
    bool Value(std::string& to);
    // Takes the value of an extern option, NAME=FILE with both non-empty,
    // and appends it to to; false when it is missing or malformed.
    bool Extern(std::vector<std::pair<std::string, std::string>>& to);

private:
    int argc_;
    char** argv_;
    int i_ = 0;
    std::string arg_;
};

#endif

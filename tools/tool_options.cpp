// tool_options.cpp: OptionReader (tool_options.h).
#include "tool_options.h"

bool OptionReader::Next()
{
    if (++i_ >= argc_) return false;
    arg_ = argv_[i_];
    return true;
}

bool OptionReader::Value(std::string& to)
{
    if (i_ + 1 >= argc_) return false;
    to = argv_[++i_];
    return true;
}

bool OptionReader::Extern(std::vector<std::pair<std::string, std::string>>& to)
{
    std::string x;
    if (!Value(x)) return false;
    size_t eq = x.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == x.size()) return false;
    to.emplace_back(x.substr(0, eq), x.substr(eq + 1));
    return true;
}

#include "datafiles/Text.h"

#include <algorithm>
#include <cctype>

std::string TrimWhite(const std::string& text) {
    const char* white = " \t\r\n";
    const auto first = text.find_first_not_of(white);
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(white);
    return text.substr(first, last - first + 1);
}

std::string ToLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string WithoutExtension(const std::string& name) {
    const auto slash = name.find_last_of('/');
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return name;
    return name.substr(0, dot);
}

#pragma once

#include <charconv>
#include <string>
#include <string_view>
#include <system_error>

namespace geometry {

// Small allocation-free helpers for the line-oriented mesh formats.
namespace text {

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Everything before the first '#'.
inline std::string_view StripComment(std::string_view s) {
    const auto hash = s.find('#');
    return hash == std::string_view::npos ? s : s.substr(0, hash);
}

inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(s[i]) != Lower(prefix[i])) return false;
    return true;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

// Reads one number after optional blanks and an optional '+'; advances s past it.
// The number must end at a blank or at the end of s.
template <typename N>
inline bool ParseNumber(std::string_view& s, N& out) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    if (s.size() > 1 && s.front() == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, out);
    if (r.ec != std::errc() || (r.ptr != end && !IsBlank(*r.ptr))) return false;
    s.remove_prefix(static_cast<std::size_t>(r.ptr - s.data()));
    return true;
}

// The text with control characters shown as '?', for quoting input in messages.
inline std::string Printable(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) c = '?';
    return out;
}

// True if nothing but blanks is left.
inline bool AtEnd(std::string_view s) { return Trim(s).empty(); }

// Next blank-separated word; empty at the end.
inline std::string_view NextWord(std::string_view& s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    std::size_t n = 0;
    while (n < s.size() && !IsBlank(s[n])) ++n;
    const std::string_view word = s.substr(0, n);
    s.remove_prefix(n);
    return word;
}

} // namespace text
} // namespace geometry

#pragma once

#include <xraylib.h>

#include <stdexcept>
#include <string>

namespace matgen {

// Calls an xraylib function that reports failures through an xrl_error and
// turns such a failure into an exception carrying xraylib's own text.
template <typename F, typename... Args>
double XrlCall(F function, Args... args)
{
    xrl_error* error = nullptr;
    const double value = function(args..., &error);
    if (error) {
        const std::string text = error->message ? error->message : "xraylib error";
        xrl_error_free(error);
        throw std::runtime_error(text);
    }
    return value;
}

// Like XrlCall, but an xraylib failure yields `fallback` (used where xraylib
// signals "no data here", e.g. a shell that cannot be excited at that energy).
template <typename F, typename... Args>
double XrlOr(double fallback, F function, Args... args)
{
    xrl_error* error = nullptr;
    const double value = function(args..., &error);
    if (error) {
        xrl_error_free(error);
        return fallback;
    }
    return value;
}

} // namespace matgen

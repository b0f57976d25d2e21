#pragma once

#include <functional>
#include <stdexcept>
#include <string>

// The message of the exception `action` throws, or "no error".
inline std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

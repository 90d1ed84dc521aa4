#pragma once

#include <functional>

namespace testsupport {

// Replaces handler with one that counts its calls in count, then runs the original (if any):
// a test or fuzz target's way to know that a notice has been handled.
template<typename... Args> void countCalls(std::function<void(Args...)> &handler, int &count)
{
    handler = [inner = handler, &count](Args... args) {
        ++count;
        if (inner)
            inner(args...);
    };
}

} // namespace testsupport

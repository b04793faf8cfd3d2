// The C interface's entry points run their bodies through these, so that
// no C++ exception (a std::bad_alloc above all) ever reaches a C caller.
#pragma once

#include "zorbel.h"

#include <new>

namespace zorbel {

// body()'s result; `no_memory` when it throws std::bad_alloc, `other` for
// any other exception.
template <class Body>
int c_entry(Body &&body, int no_memory = ZO_ERR_NO_MEM, int other = ZO_ERR_NO_MEM) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return no_memory;
    } catch (...) {
        return other;
    }
}

// For entry points without a result: an exception ends body() quietly.
template <class Body>
void c_entry_void(Body &&body) noexcept
{
    try {
        body();
    } catch (...) {
    }
}

}  // namespace zorbel

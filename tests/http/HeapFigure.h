#pragma once

#include <cstddef>
#include <malloc.h>

// Present when a sanitizer keeps the heap in place of the C library.
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace vesk::test {

// The bytes the program's heap holds in blocks in use now.
inline size_t heapInUse()
{
    if (__sanitizer_get_current_allocated_bytes)
        return __sanitizer_get_current_allocated_bytes();
    auto figures = ::mallinfo2();
    return figures.uordblks + figures.hblkhd;
}

}

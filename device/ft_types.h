#pragma once

#include <cstdint>

// Types of the vendor's D2XX driver library, written from its documented
// operations. The handle is the library's own opaque pointer: it is kept at
// full pointer width, because cutting it to 32 bits would corrupt it on a
// 64-bit platform.

namespace capmeter {

using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;  // 0 is success, anything else failure

inline constexpr FT_STATUS kStatusOk = 0;

}  // namespace capmeter

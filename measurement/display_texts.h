#pragma once

#include <string_view>

// Texts the measurement shows in its two displays besides numbers.
namespace capmeter::display_texts {

inline constexpr std::string_view kProcessing = "Processing!";
inline constexpr std::string_view kReadError = "Read Error!";
inline constexpr std::string_view kTimedOut = "Timed Out!";
inline constexpr std::string_view kNoData = "No Data!";
inline constexpr std::string_view kOutOfRange = "Out of Range!";

}  // namespace capmeter::display_texts

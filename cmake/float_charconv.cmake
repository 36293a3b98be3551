# Whether the standard library reads and writes floating point with
# std::from_chars and std::to_chars (libc++ before 20 cannot read a double
# that way). Where it cannot, measurement/float_chars.cpp uses its stand-ins.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles([[
#include <charconv>
int main() {
  const char text[] = "1.5";
  double value = 0;
  return static_cast<int>(std::from_chars(text, text + 3, value).ec);
}]] CAPMETER_HAVE_STD_FLOAT_FROM_CHARS)
check_cxx_source_compiles([[
#include <charconv>
int main() {
  char text[32];
  const auto a = std::to_chars(text, text + 32, 1.5, std::chars_format::fixed, 6);
  const auto b = std::to_chars(text, text + 32, 1.5F, std::chars_format::general, 7);
  const auto c = std::to_chars(text, text + 32, 1.5);
  const auto d = std::to_chars(text, text + 32, 1.5F);
  return static_cast<int>(a.ec) + static_cast<int>(b.ec) + static_cast<int>(c.ec) +
         static_cast<int>(d.ec);
}]] CAPMETER_HAVE_STD_FLOAT_TO_CHARS)

# capmeter_float_charconv(<target> <visibility>): tells the sources of
# <target> (and, unless PRIVATE, its users) what was found.
function(capmeter_float_charconv target visibility)
  target_compile_definitions(${target} ${visibility}
    CAPMETER_HAVE_STD_FLOAT_FROM_CHARS=$<BOOL:${CAPMETER_HAVE_STD_FLOAT_FROM_CHARS}>
    CAPMETER_HAVE_STD_FLOAT_TO_CHARS=$<BOOL:${CAPMETER_HAVE_STD_FLOAT_TO_CHARS}>)
endfunction()

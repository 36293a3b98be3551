# Whether the standard library reads a double with std::from_chars (libc++
# before 20 cannot); where it cannot, measurement/float_chars.cpp reads with
# fast_float.
include(CheckCXXSourceCompiles)
check_cxx_source_compiles([[
#include <charconv>
int main() {
  const char text[] = "1.5";
  double value = 0;
  return static_cast<int>(std::from_chars(text, text + 3, value).ec);
}]] CAPMETER_HAVE_STD_FLOAT_FROM_CHARS)
if(NOT CAPMETER_HAVE_STD_FLOAT_FROM_CHARS)
  find_package(FastFloat REQUIRED)  # Debian's libfast-float-dev
endif()

# capmeter_float_charconv(<target> <visibility>): tells the sources of
# <target> (and, unless PRIVATE, its users) what was found.
function(capmeter_float_charconv target visibility)
  target_compile_definitions(${target} ${visibility}
    CAPMETER_HAVE_STD_FLOAT_FROM_CHARS=$<BOOL:${CAPMETER_HAVE_STD_FLOAT_FROM_CHARS}>)
  if(NOT CAPMETER_HAVE_STD_FLOAT_FROM_CHARS)
    target_link_libraries(${target} ${visibility} FastFloat::fast_float)
  endif()
endfunction()

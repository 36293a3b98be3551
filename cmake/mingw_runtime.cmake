# The compiler's runtime DLLs that Qt's plugins need (startup/CMakeLists.txt)
# and that THIRD-PARTY-NOTICES.txt names (cmake/third_party_notices.cmake):
# each stripped of its symbols, as Debian ships them with, into
# ${PROJECT_BINARY_DIR}/runtime. Sets CAPMETER_RUNTIME_DLLS to the compiler's
# own files.
set(CAPMETER_RUNTIME_DLLS "")
if(MINGW)
  set(libgcc_dll libgcc_s_seh-1.dll)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(libgcc_dll libgcc_s_dw2-1.dll)
  endif()
  foreach(dll libstdc++-6.dll ${libgcc_dll} libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}")
      message(FATAL_ERROR "capmeter: the compiler's ${dll} was not found")
    endif()
    list(APPEND CAPMETER_RUNTIME_DLLS ${path})
  endforeach()
endif()

# capmeter_stripped_runtime(VAR): the stripped copies, built with the
# programs; VAR is set to their paths.
function(capmeter_stripped_runtime var)
  set(stripped "")
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/runtime)
  foreach(path IN LISTS CAPMETER_RUNTIME_DLLS)
    get_filename_component(dll ${path} NAME)
    set(out ${PROJECT_BINARY_DIR}/runtime/${dll})
    add_custom_command(OUTPUT ${out} DEPENDS ${path}
                       COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${out} ${path}
                       COMMENT "Stripping ${dll}")
    list(APPEND stripped ${out})
  endforeach()
  add_custom_target(capmeter_runtime_dlls ALL DEPENDS ${stripped})
  set(${var} ${stripped} PARENT_SCOPE)
endfunction()

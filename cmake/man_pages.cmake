# Man pages made by help2man from each program's --help and --version, and
# gzipped as distributions install them. Skipped without help2man and when
# cross-compiling (the programs must run here).
find_program(CAPMETER_HELP2MAN help2man)
find_program(CAPMETER_GZIP gzip)
if(CAPMETER_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  set(CAPMETER_MAN_PAGES ON)
else()
  set(CAPMETER_MAN_PAGES OFF)
  message(STATUS "capmeter: no man pages (help2man not found, or cross-compiling)")
endif()

# capmeter_man_page(<program> <command> <one-line description> [DEPENDS <file or target>...])
# Builds <program>.1 (and .1.gz) from `<command> --help` and installs it.
function(capmeter_man_page program command description)
  if(NOT CAPMETER_MAN_PAGES)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 3 ARG "" "" "DEPENDS")
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1)
  # help2man runs the program; a program target is a dependency by its name.
  if(TARGET ${program})
    list(APPEND ARG_DEPENDS ${program})
  endif()
  # The release alone as the version, so the page does not change with
  # every commit; copyright and cross references come from the include.
  set(include ${PROJECT_SOURCE_DIR}/data/man-common.h2m)
  set(commands COMMAND ${CAPMETER_HELP2MAN} --no-info --section=1 --name=${description}
                       --version-string=${PROJECT_VERSION} --include=${include}
                       --output=${page} ${command})
  if(CAPMETER_GZIP)
    list(APPEND commands COMMAND ${CAPMETER_GZIP} -9nf ${page})
    set(page ${page}.gz)
  endif()
  add_custom_command(OUTPUT ${page} ${commands} DEPENDS ${ARG_DEPENDS} ${include} VERBATIM
                     COMMENT "Man page for ${program}")
  add_custom_target(${program}-man-page ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

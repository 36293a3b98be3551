# capmeter_version.h with the project's version for --version and the like,
# plus `git describe` when the source is a git checkout. The header is
# rewritten at every build, but only touched when its text changes, so a new
# commit shows without reconfiguring and costs one small recompile.
find_package(Git QUIET)
set(CAPMETER_VERSION_HEADER ${PROJECT_BINARY_DIR}/generated/capmeter_version.h)
set(CAPMETER_VERSION_ARGS
  -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
  -DGIT_EXECUTABLE=${GIT_EXECUTABLE}
  -DPROJECT_VERSION=${PROJECT_VERSION}
  -DTEMPLATE=${CMAKE_CURRENT_LIST_DIR}/capmeter_version.h.in
  -DOUTPUT=${CAPMETER_VERSION_HEADER}
  -P ${CMAKE_CURRENT_LIST_DIR}/write_version.cmake)
# Once now, so the header exists for tools that read the compile commands.
execute_process(COMMAND ${CMAKE_COMMAND} ${CAPMETER_VERSION_ARGS})
add_custom_target(capmeter_version_header
  COMMAND ${CMAKE_COMMAND} ${CAPMETER_VERSION_ARGS}
  BYPRODUCTS ${CAPMETER_VERSION_HEADER}
  VERBATIM)
add_library(capmeter_version INTERFACE)
target_include_directories(capmeter_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
add_dependencies(capmeter_version capmeter_version_header)

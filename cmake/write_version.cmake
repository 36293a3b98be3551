# cmake -DSOURCE_DIR=... -DGIT_EXECUTABLE=... -DPROJECT_VERSION=... \
#       -DTEMPLATE=... -DOUTPUT=... -P write_version.cmake
# Writes OUTPUT from TEMPLATE with CAPMETER_VERSION_DESCRIPTION set.
set(CAPMETER_VERSION_DESCRIPTION "${PROJECT_VERSION}")
if(GIT_EXECUTABLE)
  # Only the source's own checkout counts, not a repository that happens to
  # hold an unpacked source tree (as in a distribution's packaging).
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(NOT failed AND top STREQUAL source)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --tags --always --dirty
                    OUTPUT_VARIABLE description OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND description)
      set(CAPMETER_VERSION_DESCRIPTION "${PROJECT_VERSION} (git ${description})")
    endif()
  endif()
endif()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)

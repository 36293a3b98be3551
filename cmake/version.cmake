# capmeter_version.h with the project's version, for --version and the like.
configure_file(${CMAKE_CURRENT_LIST_DIR}/capmeter_version.h.in
               ${PROJECT_BINARY_DIR}/generated/capmeter_version.h @ONLY)
add_library(capmeter_version INTERFACE)
target_include_directories(capmeter_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

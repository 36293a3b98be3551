# Each folder is its own target and sees only the headers its README allows.
# A target's include path holds a private root with links to exactly those
# folders and files, so an include of anything else fails to compile.
# Where links cannot be made (Windows without the right to create them) the
# project root is used instead and the layer check test still catches a
# stray include.

set(CAPMETER_INCLUDE_ROOTS ${PROJECT_BINARY_DIR}/include-roots)

# capmeter_expose(<target> <INTERFACE|PUBLIC|PRIVATE> <path>...)
# Makes each path (a folder or a header, relative to the project root)
# includable as "<path>" by <target> and, with PUBLIC or INTERFACE, by what
# links it.
function(capmeter_expose target visibility)
  set(root ${CAPMETER_INCLUDE_ROOTS}/${target})
  foreach(path IN LISTS ARGN)
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${path})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${root}/${path} RESULT failed SYMBOLIC)
      if(failed)
        message(STATUS "capmeter: cannot link ${path} (${failed}); "
                       "${target} sees the whole tree, the layer check still runs")
        target_include_directories(${target} ${visibility} ${PROJECT_SOURCE_DIR})
        return()
      endif()
    endif()
  endforeach()
  target_include_directories(${target} ${visibility} ${root})
endfunction()

# THIRD-PARTY-NOTICES.txt of the Windows packages: a notice for each library
# they ship or build in, with its version, where its source came from and
# its notice in full. Qt's bundled libraries' notices are the ones
# tools/build-qt-windows gathered from the Qt source it built; the compiler's
# runtime, linked into every program and shipped as DLLs beside Qt's
# plugins, is noticed from the Debian packages it came from, with their
# copyright files. tools/check-notices checks the packaged file.

# notice_section(VAR TITLE IN SOURCE TEXT): one library's notice, as
# tools/check-notices reads them.
function(notice_section var title in source text)
  set(${var} "${${var}}
================================================================================
${title}
In: ${in}
Source: ${source}

${text}
" PARENT_SCOPE)
endfunction()

set(notices "THIRD-PARTY NOTICES

The programs in this folder are capmeter's own (LICENSE.txt). They, Qt's
DLLs and plugins contain, or are shipped with, the libraries below, each
under its own licence, whose notice follows its name.
")

# qt_version(VAR DIR NAME): the version of the Qt package NAME found in DIR.
function(qt_version var dir name)
  file(STRINGS ${dir}/${name}ConfigVersionImpl.cmake line REGEX "set\\(PACKAGE_VERSION \"[0-9.]+\"\\)")
  string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" version "${line}")
  set(${var} ${version} PARENT_SCOPE)
endfunction()

if(TARGET capmeter)
  qt_version(Qt6_VERSION ${Qt6_DIR} Qt6)
  set(base_files "Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms/qwindows.dll, styles/qwindowsvistastyle.dll")
  file(STRINGS ${qt_licences}/qtbase/SOURCE base_source LIMIT_COUNT 1)
  notice_section(notices "Qt ${Qt6_VERSION} (Core, Gui, Widgets)" "${base_files}" "${base_source}"
                 "GNU Lesser General Public License version 3, in LICENSE-Qt-LGPL-3.0.txt,
which builds on the GNU General Public License version 3, in
LICENSE-Qt-GPL-3.0.txt.")
  if(TARGET capmeter-monitor)
    qt_version(Qt6Charts_VERSION ${Qt6Charts_DIR} Qt6Charts)
    file(STRINGS ${qt_licences}/qtcharts/SOURCE charts_source LIMIT_COUNT 1)
    notice_section(notices "Qt Charts ${Qt6Charts_VERSION}" "Qt6Charts.dll" "${charts_source}"
                   "GNU General Public License version 3, in LICENSE-Qt-GPL-3.0.txt.")
  endif()
  if(NOT EXISTS ${qt_licences}/qtbase/NOTICES.txt)
    message(FATAL_ERROR "capmeter: ${qt_licences}/qtbase/NOTICES.txt is missing; the Windows "
                        "packages must carry the notices of what Qt builds in: build Qt with "
                        "tools/build-qt-windows")
  endif()
  file(READ ${qt_licences}/qtbase/NOTICES.txt qt_notices)
  string(APPEND notices "${qt_notices}")
endif()

# The runtime: what it ships as DLLs, and what -static links into every
# program and DLL, by the Debian package each file came from. Elsewhere
# (MSYS2) there are no such packages to take its notices from.
find_program(CAPMETER_DPKG_QUERY dpkg-query)
if(MINGW AND NOT CAPMETER_DPKG_QUERY)
  message(WARNING "capmeter: no dpkg-query, so THIRD-PARTY-NOTICES.txt has no notice of the "
                  "compiler's runtime; the packages are made on Debian (tools/package-windows)")
endif()
if(MINGW AND CAPMETER_DPKG_QUERY)
  set(runtime_files ${CAPMETER_RUNTIME_DLLS})
  foreach(library libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a libmingw32.a libmingwex.a)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND runtime_files ${path})
  endforeach()
  set(copyrights "")
  foreach(path IN LISTS runtime_files)
    get_filename_component(path ${path} REALPATH)
    execute_process(COMMAND ${CAPMETER_DPKG_QUERY} -S ${path} OUTPUT_VARIABLE owner RESULT_VARIABLE failed
                    ERROR_QUIET)
    if(failed)
      message(FATAL_ERROR "capmeter: no Debian package holds ${path}, so the Windows packages "
                          "have no notice for it (build them on Debian, tools/package-windows)")
    endif()
    string(REGEX REPLACE ":.*" "" package "${owner}")
    set(copyright /usr/share/doc/${package}/copyright)
    file(SHA256 ${copyright} sum)
    if(NOT sum IN_LIST copyrights)
      list(APPEND copyrights ${sum})
      set(packages_${sum} "")
      set(in_${sum} "")
      set(file_${sum} ${copyright})
    endif()
    if(NOT package IN_LIST packages_${sum})
      list(APPEND packages_${sum} ${package})
    endif()
    get_filename_component(name ${path} NAME)
    if(name MATCHES "\\.dll$")
      list(APPEND in_${sum} ${name})
    endif()
  endforeach()
  foreach(sum IN LISTS copyrights)
    list(GET packages_${sum} 0 first)
    execute_process(COMMAND ${CAPMETER_DPKG_QUERY} -W "-f=\${source:Package} \${Version}" ${first}
                    OUTPUT_VARIABLE source_version)
    set(sources "")
    foreach(package IN LISTS packages_${sum})
      execute_process(COMMAND ${CAPMETER_DPKG_QUERY} -W "-f=\${Version}" ${package} OUTPUT_VARIABLE version)
      list(APPEND sources "${package} ${version}")
    endforeach()
    list(JOIN sources ", " sources)
    list(APPEND in_${sum} "linked into every .exe and .dll here")
    list(JOIN in_${sum} ", " in)
    file(READ ${file_${sum}} text)
    notice_section(notices "${source_version} (the compiler's runtime)" "${in}"
                   "Debian's packages ${sources}" "As ${file_${sum}} has it:\n\n${text}")
  endforeach()
endif()

string(REPLACE "\r\n" "\n" notices "${notices}")
string(REPLACE "\n" "\r\n" notices "${notices}")
file(WRITE ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt "${notices}")
list(APPEND licence_files ${PROJECT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
string(APPEND CAPMETER_README_LICENCES "

The libraries Qt builds into its DLLs (zlib, PCRE2, FreeType, HarfBuzz,
libpng and others) and the compiler's runtime (libstdc++, libgcc,
winpthreads, linked into every program) are each under a licence of their
own: THIRD-PARTY-NOTICES.txt lists them, with their versions, sources and
notices.")

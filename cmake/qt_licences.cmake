# The licence texts of the Qt that the Windows packages ship beside the
# programs, and where its source is: tools/build-qt-windows keeps both in the
# Qt's licenses/ folder. Qt's base modules are under the LGPL-3.0, which
# builds on the GPL-3.0; Qt Charts is under the GPL-3.0, so the monitor as
# shipped is a GPL-3.0 work. A package without these texts is not built.
get_filename_component(qt_licences "${Qt6_DIR}/../../../licenses" ABSOLUTE)
set(gpl_from qtbase)
if(TARGET capmeter-monitor)
  set(gpl_from qtcharts)
endif()
foreach(file qtbase/LGPL-3.0-only.txt qtbase/SOURCE ${gpl_from}/GPL-3.0-only.txt
             ${gpl_from}/SOURCE)
  if(NOT EXISTS ${qt_licences}/${file})
    message(FATAL_ERROR "capmeter: ${qt_licences}/${file} is missing; the Windows packages "
                        "must carry Qt's licence texts: build Qt with tools/build-qt-windows")
  endif()
endforeach()

# Copies a text with the line ends Notepad wants.
function(capmeter_crlf_copy from to)
  file(READ ${from} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${to} "${text}")
endfunction()
capmeter_crlf_copy(${qt_licences}/qtbase/LGPL-3.0-only.txt
                   ${PROJECT_BINARY_DIR}/LICENSE-Qt-LGPL-3.0.txt)
capmeter_crlf_copy(${qt_licences}/${gpl_from}/GPL-3.0-only.txt
                   ${PROJECT_BINARY_DIR}/LICENSE-Qt-GPL-3.0.txt)
list(APPEND licence_files ${PROJECT_BINARY_DIR}/LICENSE-Qt-LGPL-3.0.txt
     ${PROJECT_BINARY_DIR}/LICENSE-Qt-GPL-3.0.txt)

file(STRINGS ${qt_licences}/qtbase/SOURCE base_source LIMIT_COUNT 1)
string(APPEND CAPMETER_README_LICENCES "
capmeter.exe and capmeter-sim.exe use Qt 6 Core, Gui and Widgets and the
Windows platform and style plugins (the Qt6*.dll files, \"platforms\" and
\"styles\"). These are under the GNU LGPL version 3, in
LICENSE-Qt-LGPL-3.0.txt, which builds on the GNU GPL version 3, in
LICENSE-Qt-GPL-3.0.txt. You may put a build of your own of the same Qt in
their place.")
set(sources "  Qt base:   ${base_source}")
if(TARGET capmeter-monitor)
  file(STRINGS ${qt_licences}/qtcharts/SOURCE charts_source LIMIT_COUNT 1)
  string(APPEND CAPMETER_README_LICENCES "
capmeter-monitor.exe also uses Qt Charts (Qt6Charts.dll), which is under
the GNU GPL version 3 only: capmeter-monitor.exe as shipped here is
therefore distributed under the GNU GPL version 3, in
LICENSE-Qt-GPL-3.0.txt.")
  string(APPEND sources "\n  Qt Charts: ${charts_source}")
endif()
string(APPEND CAPMETER_README_LICENCES "
capmeter-cli.exe uses no Qt.

The Qt DLLs and plugins were built, with no change of ours, from:
${sources}
capmeter's own source: ${CAPMETER_HOMEPAGE_URL}")

# Documentation beside the programs, and the Debian package (cpack -G DEB)
# or on Windows a zip of one folder and a setup program (cpack -G ZIP and
# -G NSIS, tools/package-windows).
set(CPACK_PACKAGE_NAME capmeter)
set(CPACK_PACKAGE_VENDOR "The capmeter authors")
if(WIN32)
  # Named and with line ends as Notepad opens them; the monitor's line only
  # where it is built (with Qt Charts).
  set(CAPMETER_README_MONITOR "")
  if(TARGET capmeter-monitor)
    set(CAPMETER_README_MONITOR "capmeter-monitor.exe
                  series of readings watched live: a trend chart, a
                  histogram, running statistics, limits and a CSV log
                  (\"capmeter-monitor.exe --simulate\" runs without hardware)
")
  endif()
  configure_file(LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  set(licence_files ${PROJECT_BINARY_DIR}/LICENSE.txt)
  set(CAPMETER_README_LICENCES "capmeter's own code is under the MIT licence, in LICENSE.txt.")
  if(TARGET capmeter)  # the window programs, and Qt with them
    include(${CMAKE_CURRENT_LIST_DIR}/qt_licences.cmake)
  endif()
  include(${CMAKE_CURRENT_LIST_DIR}/third_party_notices.cmake)
  configure_file(${PROJECT_SOURCE_DIR}/data/README-Windows.txt.in
                 ${PROJECT_BINARY_DIR}/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README-Windows.txt ${licence_files} DESTINATION .)
  # The setup program's licence page: ours, then README's word on the others.
  file(READ LICENSE setup_licence)
  file(WRITE ${PROJECT_BINARY_DIR}/setup-licence.txt
       "${setup_licence}\n${CAPMETER_README_LICENCES}\n")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/setup-licence.txt)
  set(CPACK_PACKAGE_FILE_NAME capmeter-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR ZIP NSIS)
  # The setup program (cpack -G NSIS, with makensis, which runs on Linux too):
  # a 64-bit installer into Program Files\capmeter, with a Start-menu entry
  # for each window program and an uninstaller under the Uninstall key. One
  # folder and one key for every version, so a newer version replaces an
  # older one, which the setup program uninstalls first. CPack's NSIS
  # template asks for administrator rights and installs for all users.
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_file_names.cmake)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY capmeter)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY capmeter)
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_NSIS_INSTALLED_ICON_NAME capmeter.exe)
  set(CPACK_NSIS_URL_INFO_ABOUT ${CAPMETER_HOMEPAGE_URL})
  set(CPACK_PACKAGE_EXECUTABLES capmeter "Capacitance Meter" capmeter-sim
      "Capacitance Meter (simulated)")
  if(TARGET capmeter-monitor)
    list(APPEND CPACK_PACKAGE_EXECUTABLES capmeter-monitor "Capacitance Monitor")
  endif()
  # The size shown in "Apps & features": the one section's, in KiB. CPack's
  # template keeps the installation folder under the vendor's key, but
  # removes only the folder's key, not the vendor's, then empty.
  set(reg_uninstall "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall")
  set(reg_vendor "Software\\\\${CPACK_PACKAGE_VENDOR}")
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "SectionGetSize 0 $0
  WriteRegDWORD SHCTX '${reg_uninstall}\\\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}' EstimatedSize $0")
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
      "DeleteRegKey SHCTX '${reg_vendor}\\\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}'
  DeleteRegKey /ifempty SHCTX '${reg_vendor}'")
else()
  install(FILES LICENSE README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "capacitance meter over a USB interface chip")
if(NOT WIN32)
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
endif()
set(CPACK_STRIP_FILES ON)
if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
endif()

set(CAPMETER_MAINTAINER "capmeter maintainers <maintainers@capmeter.invalid>" CACHE STRING
    "Maintainer of the Debian package, \"Name <address>\"")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CAPMETER_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The extended description under the summary line; CPack indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"capmeter measures capacitors with an external timing circuit wired to the
data pins of a USB interface chip in bit-bang mode. Each press of Sample
triggers the circuit, times how long its output stays high and turns that
charge time into microfarads with a calibration line C = m * t + b.

The meter (capmeter) reaches the chip directly through libusb with --usb
VID:PID, taking it from the kernel's serial driver while it runs, or
through the chip vendor's D2XX driver library, which is not part of this
package and is loaded when the program starts. capmeter-sim shows the same
window on a simulated chip and circuit, so the meter can be tried without
hardware. capmeter-cli is the same meter on the command line: step-by-step
bring-up checks, series of readings with statistics as a table, CSV or
JSON, and calibration from known capacitors. capmeter-monitor watches
series of readings live: a trend chart, a histogram, running statistics,
limits and a CSV log. capmeter-allow-device writes a udev rule that lets
the logged-in user open the chip.")

# copyright and changelog.Debian.gz, written into the package by CPack.
if(NOT WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/deb_docs.cmake.in ${PROJECT_BINARY_DIR}/deb_docs.cmake
                 @ONLY)
  set(CPACK_INSTALL_SCRIPTS ${PROJECT_BINARY_DIR}/deb_docs.cmake)
endif()

include(CPack)

# Packages people install, made by CPack from the install() rules:
#   build/default: cpack -G DEB  ->  tachyra_<version>_<arch>.deb
#   build/mingw:   cpack -G ZIP  ->  tachyra-<version>-win64.zip
# The licences are installed here; the programs, desktop entry, icons and manual pages by
# the directories that build them.

set(CPACK_PACKAGE_NAME tachyra)
set(CPACK_PACKAGE_VENDOR "The Tachyra developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tachyra.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network throughput tester: test server, client and browser page")
# Debian shows the description as it is: lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
  "Tachyra measures network throughput. One window runs a test server, a
ten-connection test client, or both, and shows the MB/s received and sent once
a second. Any phone or PC on the network can also measure its link to the
machine with a web browser: the server serves its own speed page and a
WebSocket stream.

This package holds the GTK 3 window (tachyra) and the command-line tester
(tachyra-cli), which runs the server headless or scripted client tests with a
JSON report.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Directories the install rules create implicitly, whatever the umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(_echarts ${PROJECT_SOURCE_DIR}/resources/echarts)
set(_qrcode ${PROJECT_SOURCE_DIR}/resources/qrcode)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tachyra-${PROJECT_VERSION}-win64)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  install(FILES ${_echarts}/LICENSE DESTINATION licenses/echarts RENAME LICENSE.txt)
  install(FILES ${_echarts}/NOTICE DESTINATION licenses/echarts RENAME NOTICE.txt)
  foreach(_name zrender d3)
    install(FILES ${_echarts}/licenses/LICENSE-${_name} DESTINATION licenses/echarts
            RENAME LICENSE-${_name}.txt)
  endforeach()
  install(FILES ${_qrcode}/LICENSE DESTINATION licenses/qrcode RENAME LICENSE.txt)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_FILE_NAME tachyra-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_NAME tachyra)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tachyra developers <developers@tachyra.example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends: computed by dpkg-shlibdeps from the libraries the programs link.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  # The options file is the administrator's: an upgrade keeps their changes.
  set(_conffiles ${CMAKE_BINARY_DIR}/packaging/conffiles)
  file(WRITE ${_conffiles} "/etc/default/tachyra\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_conffiles})

  # /usr/share/doc/tachyra/copyright, in Debian's machine-readable format, from the
  # licence files themselves.
  function(_tachyra_license_block FILE OUT)
    file(READ ${FILE} _text)
    string(STRIP "${_text}" _text)
    string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" _text "${_text}")
    string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" _text "${_text}")
    string(REPLACE "\n" "\n " _text " ${_text}")
    set(${OUT} "${_text}" PARENT_SCOPE)
  endfunction()
  _tachyra_license_block(${PROJECT_SOURCE_DIR}/LICENSE _expat)
  _tachyra_license_block(${_echarts}/NOTICE _notice)
  _tachyra_license_block(${_echarts}/licenses/LICENSE-zrender _zrender)
  _tachyra_license_block(${_echarts}/licenses/LICENSE-d3 _d3)
  _tachyra_license_block(${_qrcode}/LICENSE _qrcode_expat)
  set(_copyright ${CMAKE_BINARY_DIR}/packaging/copyright)
  file(CONFIGURE OUTPUT ${_copyright} @ONLY CONTENT [=[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Tachyra
Upstream-Contact: The Tachyra developers <developers@tachyra.example.org>
Source: https://tachyra.example.org/

Files: *
Copyright: 2026 The Tachyra developers
License: Expat

Files: resources/echarts/*
Copyright: 2017-2018 The Apache Software Foundation
License: Apache-2.0
Comment: Apache ECharts 4.1.0, built into the programs and served with the
 speed page. Its NOTICE file:
 .
@_notice@

Files: resources/echarts/echarts.min.js
Copyright: 2017-2018 The Apache Software Foundation
 2017 Baidu Inc. (zrender)
 2010-2016 Mike Bostock (d3)
License: Apache-2.0 and BSD-3-clause~zrender and BSD-3-clause~d3

Files: resources/qrcode/*
Copyright: 2009 Kazuhiko Arase
License: Expat~qrcode
Comment: qrcode-generator 2.0.4, built into the programs and served with the
 full test page, which draws the QR code of its address with it.

License: Expat
@_expat@

License: Expat~qrcode
@_qrcode_expat@

License: Apache-2.0
 Licensed under the Apache License, Version 2.0 (the "License"); you may not
 use this file except in compliance with the License.
 .
 On Debian systems, the full text of the Apache License, Version 2.0 can be
 found in /usr/share/common-licenses/Apache-2.0.

License: BSD-3-clause~zrender
@_zrender@

License: BSD-3-clause~d3
@_d3@
]=])
  install(FILES ${_copyright} DESTINATION share/doc/tachyra)

  # Debian wants manual pages and the changelog compressed with gzip -9n; a plain
  # `cmake --install` keeps the pages as they are.
  set(_prebuild ${CMAKE_BINARY_DIR}/packaging/deb_prebuild.cmake)
  string(TIMESTAMP _date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(CONFIGURE OUTPUT ${_prebuild} @ONLY CONTENT [=[
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(_root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}@CPACK_PACKAGING_INSTALL_PREFIX@")
file(GLOB _pages "${_root}/share/man/man1/*.1")
set(_doc "${_root}/share/doc/tachyra")
file(WRITE "${_doc}/changelog" "tachyra (@PROJECT_VERSION@) unstable; urgency=medium

  * Tachyra @PROJECT_VERSION@.

 -- @CPACK_DEBIAN_PACKAGE_MAINTAINER@  @_date@
")
foreach(_file IN LISTS _pages ITEMS "${_doc}/changelog")
  execute_process(COMMAND gzip -9nf "${_file}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "gzip ${_file} failed")
  endif()
endforeach()
]=])
  set(CPACK_PRE_BUILD_SCRIPTS ${_prebuild})
endif()

include(CPack)

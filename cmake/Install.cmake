# What `cmake --install` (and `make install PREFIX=... DESTDIR=...`) puts in place: the three
# programs in bin/; on Linux also the menu entry, the metainfo, the icon, the file type of PDS
# image products, the manual pages (made from each program's --help at build time), the example
# settings and the license.
include(GNUInstallDirs)
set(QUELMAR_DIST ${PROJECT_SOURCE_DIR}/dist)

# On Windows everything sits in one folder, as the programs expect there: the example settings
# beside them are the settings in force until edited.
if(WIN32)
  set(QUELMAR_BINDIR .)
else()
  set(QUELMAR_BINDIR ${CMAKE_INSTALL_BINDIR})
endif()
foreach(program quelmar quelmar-cli wacsim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${QUELMAR_BINDIR})
  endif()
endforeach()

if(WIN32)
  install(FILES ${QUELMAR_DIST}/Quelmar.ini ${QUELMAR_DIST}/README-Windows.txt DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  return()
endif()
# Made at build time only where the programs are built for use.
if(QUELMAR_FUZZ)
  return()
endif()

set(QUELMAR_SHARE ${CMAKE_INSTALL_DATADIR})
set(QUELMAR_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/quelmar)
install(FILES ${QUELMAR_DIST}/Quelmar.ini DESTINATION ${QUELMAR_SHARE}/quelmar)
install(FILES ${QUELMAR_DIST}/quelmar-mime.xml DESTINATION ${QUELMAR_SHARE}/mime/packages
        RENAME quelmar.xml)
install(FILES ${QUELMAR_DIST}/quelmar.svg DESTINATION ${QUELMAR_SHARE}/icons/hicolor/scalable/apps)
configure_file(${QUELMAR_DIST}/org.quelmar.Quelmar.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/dist/org.quelmar.Quelmar.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/dist/org.quelmar.Quelmar.metainfo.xml
        DESTINATION ${QUELMAR_SHARE}/metainfo)
install(FILES ${QUELMAR_DIST}/copyright DESTINATION ${QUELMAR_DOCDIR})

set(QUELMAR_MADE)
# The change log, compressed without a time stamp, as Debian packages carry it.
configure_file(${QUELMAR_DIST}/changelog ${CMAKE_BINARY_DIR}/dist/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dist/changelog.gz
  COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/dist/changelog > ${CMAKE_BINARY_DIR}/dist/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/dist/changelog VERBATIM)
list(APPEND QUELMAR_MADE ${CMAKE_BINARY_DIR}/dist/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/dist/changelog.gz DESTINATION ${QUELMAR_DOCDIR})

# The icon at the usual sizes, drawn from the SVG.
find_program(QUELMAR_RSVG_CONVERT rsvg-convert)
if(QUELMAR_RSVG_CONVERT)
  foreach(size 16 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/dist/icons/${size}x${size}/quelmar.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist/icons/${size}x${size}
      COMMAND ${QUELMAR_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${QUELMAR_DIST}/quelmar.svg
      DEPENDS ${QUELMAR_DIST}/quelmar.svg VERBATIM)
    list(APPEND QUELMAR_MADE ${png})
    install(FILES ${png} DESTINATION ${QUELMAR_SHARE}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert (Debian: librsvg2-bin) is missing: the icon is installed as SVG only")
endif()

# The manual pages: each program's --help, so the two always agree.
set(QUELMAR_MAN_quelmar "show and stack images of the LRO Wide Angle Camera")
set(QUELMAR_MAN_quelmar-cli "the Quelmar window's work in batch")
set(QUELMAR_MAN_wacsim "sample Wide Angle Camera products for Quelmar")
set(QUELMAR_MAN_COMMANDS_quelmar-cli report header raw stack support)
foreach(program quelmar quelmar-cli wacsim)
  if(TARGET ${program})
    set(page ${CMAKE_BINARY_DIR}/dist/man/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist/man
      COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/help-to-man.sh $<TARGET_FILE:${program}>
              ${program} ${QUELMAR_MAN_${program}} ${PROJECT_VERSION} ${page}
              ${QUELMAR_MAN_COMMANDS_${program}}
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/scripts/help-to-man.sh VERBATIM)
    list(APPEND QUELMAR_MADE ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

if(TARGET quelmar)
  install(FILES ${QUELMAR_DIST}/quelmar.desktop DESTINATION ${QUELMAR_SHARE}/applications)
endif()

add_custom_target(quelmar_install_files ALL DEPENDS ${QUELMAR_MADE})

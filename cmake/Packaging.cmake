# `make package`: a Debian package (its dependencies found from the binaries) and a .tar.gz of
# the same installed tree, in <build>/packages/; for Windows a zip.
set(CPACK_PACKAGE_NAME quelmar)
set(CPACK_PACKAGE_VENDOR "The Quelmar developers")
set(CPACK_PACKAGE_CONTACT "Quelmar developers <quelmar@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "viewer and stacker for LRO Wide Angle Camera images")
set(CPACK_PACKAGE_DESCRIPTION
    "Quelmar loads EDR products of the Wide Angle Camera of the Lunar Reconnaissance
Orbiter (PDS IMG files), shows their raw framelets and stacks one band's strips
into a picture, optionally removing the camera's radial distortion. It looks
products up in the archive's cumulative index, saves pictures as 24-bit BMP
files and appends photo calibration records for a companion program.
.
The package holds the window (quelmar), the batch tool (quelmar-cli) and the
sample product simulator (wacsim). Quelmar is free software under the MIT
license.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
if(WIN32)
  # `make windows-zip`: the Windows programs, the example settings and a README in one zip.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR DEB TGZ)
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/;/\\\\.git/")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackagingPerGenerator.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

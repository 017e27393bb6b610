# What `cmake --install` puts where, and the Debian package CPack makes of it. Included from the
# top level after every program's folder, so that `if(TARGET ...)` sees the programs that this
# tree builds; a program or file that is not here yet is left out, not an error.
include(GNUInstallDirs)

set(VELTR_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELTR_PACKAGE_NAME veltrano-upgrade)

# Programs.
install(TARGETS veltr veltr-devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(program VeltrUpgrade SerialUpdaterA SerialUpdaterB SerialUpdaterC)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The udev rule, relative to the prefix: udev reads /usr/lib/udev/rules.d and
# /usr/local/lib/udev/rules.d both. Not the multiarch library folder.
set(VELTR_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rule is installed")
install(FILES ${VELTR_PACKAGING_DIR}/udev/70-veltrano-usb.rules
        DESTINATION ${VELTR_UDEV_RULES_DIR})

# Desktop entries and icons, when the desktop programs bring them. A PNG icon goes into the
# hicolor size folder its own header names (width and height, big-endian, bytes 16 to 23).
file(GLOB VELTR_DESKTOP_ENTRIES ${VELTR_PACKAGING_DIR}/desktop/*.desktop)
if(VELTR_DESKTOP_ENTRIES)
  install(FILES ${VELTR_DESKTOP_ENTRIES} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
file(GLOB_RECURSE VELTR_SVG_ICONS ${VELTR_PACKAGING_DIR}/desktop/*.svg)
if(VELTR_SVG_ICONS)
  install(FILES ${VELTR_SVG_ICONS} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
file(GLOB_RECURSE VELTR_PNG_ICONS ${VELTR_PACKAGING_DIR}/desktop/*.png)
foreach(icon IN LISTS VELTR_PNG_ICONS)
  file(READ ${icon} header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 32 8 width_hex)
  string(SUBSTRING "${header}" 40 8 height_hex)
  math(EXPR width "0x${width_hex}")
  math(EXPR height "0x${height_hex}")
  install(FILES ${icon}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${width}x${height}/apps)
endforeach()
# The same folders watched for new files, so that an icon added later is picked up by the next
# build without a fresh configure.
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${VELTR_PACKAGING_DIR}/desktop)

# Man pages and the Debian documentation files, compressed as Debian wants them: gzip -9 -n,
# so that the same page gives the same bytes on every build.
set(VELTR_GZ_DIR ${PROJECT_BINARY_DIR}/packaging)
set(VELTR_MAN_PAGES veltr.1 veltr-devsim.1)
set(VELTR_GZ_OUTPUTS)
foreach(page IN LISTS VELTR_MAN_PAGES)
  add_custom_command(
    OUTPUT ${VELTR_GZ_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VELTR_GZ_DIR}/man
    COMMAND gzip -9 -n -c ${VELTR_PACKAGING_DIR}/man/${page} > ${VELTR_GZ_DIR}/man/${page}.gz
    DEPENDS ${VELTR_PACKAGING_DIR}/man/${page}
    VERBATIM)
  list(APPEND VELTR_GZ_OUTPUTS ${VELTR_GZ_DIR}/man/${page}.gz)
  install(FILES ${VELTR_GZ_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(
  OUTPUT ${VELTR_GZ_DIR}/changelog.gz
  COMMAND gzip -9 -n -c ${VELTR_PACKAGING_DIR}/debian/changelog > ${VELTR_GZ_DIR}/changelog.gz
  DEPENDS ${VELTR_PACKAGING_DIR}/debian/changelog
  VERBATIM)
list(APPEND VELTR_GZ_OUTPUTS ${VELTR_GZ_DIR}/changelog.gz)
add_custom_target(veltr_packaging_files ALL DEPENDS ${VELTR_GZ_OUTPUTS})
set(VELTR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${VELTR_PACKAGE_NAME})
install(FILES ${VELTR_PACKAGING_DIR}/debian/copyright ${VELTR_GZ_DIR}/changelog.gz
        DESTINATION ${VELTR_DOC_DIR})

# The Debian package. Its dependencies are what dpkg-shlibdeps finds the programs linked
# against (Qt, udev, the C++ runtime), not a list kept by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VELTR_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Veltrano")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrades for Veltrano digital audio devices")
# The summary above is the synopsis line; this is the text below it, without it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "The upgrade suite links a PC to one Veltrano stage box, front-of-house unit,
I/O unit or console interface card over a serial line, USB or Ethernet, finds
and identifies the device, writes the matching firmware from a package
folder, erases its settings, writes its user texts and brings back a device
that no longer starts.

This package holds the command-line upgrader veltr, the device simulator
veltr-devsim, the desktop programs when they are built, and the udev rule
that gives the user at the seat access to the USB devices.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Veltrano Firmware Team <firmware@veltrano.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 1)
include(CPack)

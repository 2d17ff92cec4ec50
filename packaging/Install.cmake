# Installing like a desktop program: every program of apps/ in bin/, a .desktop entry and an icon where desktops
# find them, and a Debian package (cpack -G DEB) that depends on the Qt libraries it links.
include(GNUInstallDirs)

# A tool added under apps/ is installed when its target is named after its folder.
file(GLOB nemola_app_dirs LIST_DIRECTORIES true RELATIVE ${PROJECT_SOURCE_DIR}/apps ${PROJECT_SOURCE_DIR}/apps/*)
foreach(tool ${nemola_app_dirs})
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES ${CMAKE_CURRENT_LIST_DIR}/nemola-m.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/nemola-m.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/nemola-m)

set(CPACK_PACKAGE_NAME nemola-m)
set(CPACK_PACKAGE_VENDOR "the Nemola-M developers")
set(CPACK_PACKAGE_CONTACT "the Nemola-M developers <nemola-m@nemola.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Controller program for GNSS receivers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The Qt 6.4 libraries of Debian 12 and the platform plugins that put a window on the screen.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libqt6serialport6 (>= 6.4), qt6-qpa-plugins (>= 6.4)")
include(CPack)

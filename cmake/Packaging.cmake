# Installation layout and the Debian package (cpack -G DEB from the build tree).
include(GNUInstallDirs)

set(FLEETWRIGHT_APP_ID "org.fleetwright.Fleetwright")

install(TARGETS fleetwright RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS fleetwright-provider-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${FLEETWRIGHT_CHECKER_MANUAL}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(TARGETS fleetwright-simulator LIBRARY DESTINATION ${FLEETWRIGHT_PRIVATE_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/device/dataprovider_abi.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fleetwright)

# The desktop entry's simulator action needs the installed library's absolute path.
if(NOT CPACK_PACKAGING_INSTALL_PREFIX)
    set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
endif()
set(FLEETWRIGHT_SIMULATOR_PATH
    "${CPACK_PACKAGING_INSTALL_PREFIX}/${FLEETWRIGHT_PRIVATE_LIBDIR}/libfleetwright-simulator.so")
configure_file(${PROJECT_SOURCE_DIR}/packaging/fleetwright.desktop.in
               ${PROJECT_BINARY_DIR}/${FLEETWRIGHT_APP_ID}.desktop @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${FLEETWRIGHT_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The manual page, compressed as Debian keeps them.
set(man_page ${PROJECT_BINARY_DIR}/fleetwright.1)
add_custom_command(OUTPUT ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/fleetwright.1 ${man_page}
    COMMAND gzip -9nf ${man_page}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/fleetwright.1
    VERBATIM)
add_custom_target(man_page ALL DEPENDS ${man_page}.gz)
install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(icon_dir ${PROJECT_SOURCE_DIR}/src/app/resources)
foreach(size 16 24 32 48)
    install(FILES ${icon_dir}/fleetwright-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${FLEETWRIGHT_APP_ID}.png)
endforeach()
install(FILES ${icon_dir}/fleetwright.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${FLEETWRIGHT_APP_ID}.svg)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "fleetwright")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Fleetwright developers <fleetwright@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Configures wireless acquisition modules through a USB base station")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's layout is drawn for the metric-compatible narrow face.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
include(CPack)

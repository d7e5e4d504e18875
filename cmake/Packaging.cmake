# Installation layout and the Debian packages (scripts/package runs cpack on a build tree).
#
# Two packages, one per install component: everything installed without a COMPONENT goes
# to `fleetwright` (the root CMakeLists names that default before any install rule); the
# maker's kit installs with `COMPONENT dev` and becomes `fleetwright-provider-dev`. The
# binaries are stripped in the package; packaging/split_debug.cmake moves their debug
# information to a third package, fleetwright-dbgsym (component dbgsym).
include(GNUInstallDirs)

set(FLEETWRIGHT_APP_ID "org.fleetwright.Fleetwright")
set(FLEETWRIGHT_MAINTAINER "Fleetwright developers <fleetwright@localhost>")
set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(main_docdir ${CMAKE_INSTALL_DATADIR}/doc/fleetwright)
set(dev_docdir ${CMAKE_INSTALL_DATADIR}/doc/fleetwright-provider-dev)
set(dbgsym_docdir ${CMAKE_INSTALL_DATADIR}/doc/fleetwright-dbgsym)
set(overrides_dir ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

install(TARGETS fleetwright RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS fleetwright-provider-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${FLEETWRIGHT_CHECKER_MANUAL}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(TARGETS fleetwright-simulator LIBRARY DESTINATION ${FLEETWRIGHT_PRIVATE_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/device/dataprovider_abi.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fleetwright COMPONENT dev)

# The desktop entry's simulator action needs the installed library's absolute path.
if(NOT CPACK_PACKAGING_INSTALL_PREFIX)
    set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
endif()
set(FLEETWRIGHT_SIMULATOR_PATH
    "${CPACK_PACKAGING_INSTALL_PREFIX}/${FLEETWRIGHT_PRIVATE_LIBDIR}/libfleetwright-simulator.so")
configure_file(${packaging_dir}/fleetwright.desktop.in
               ${PROJECT_BINARY_DIR}/${FLEETWRIGHT_APP_ID}.desktop @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${FLEETWRIGHT_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The manual page: version, synopsis and options come from the built program's --version
# and --help, the rest from the template; the simulator's variables are checked against
# its guide.
set(man_page ${PROJECT_BINARY_DIR}/fleetwright.1)
add_custom_command(OUTPUT ${man_page} ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:fleetwright>
            -DTEMPLATE=${packaging_dir}/fleetwright.1.in -DOUTPUT=${man_page}
            -DSIMULATOR_GUIDE=${PROJECT_SOURCE_DIR}/docs/simulator.md
            -DSIMULATOR_PATH=${FLEETWRIGHT_SIMULATOR_PATH}
            -P ${packaging_dir}/make_manual.cmake
    DEPENDS fleetwright ${packaging_dir}/fleetwright.1.in ${packaging_dir}/make_manual.cmake
            ${PROJECT_SOURCE_DIR}/docs/simulator.md
    COMMENT "Writing the manual page of fleetwright")
add_custom_target(fleetwright-manual ALL DEPENDS ${man_page}.gz)
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

# The changelog's newest entry is the release being packaged.
file(STRINGS ${packaging_dir}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^fleetwright \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog starts with '${changelog_head}'; "
                        "its newest entry must be version ${PROJECT_VERSION}")
endif()

# The copyright file in Debian's machine-readable form, its licence text taken from LICENSE.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
set(licence_copyright "")
set(licence_text "")
set(in_text FALSE)
foreach(line IN LISTS license_lines)
    if(line MATCHES "^Copyright \\(c\\) (.+)$")
        set(licence_copyright "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^Permission is hereby granted")
        set(in_text TRUE)
    endif()
    if(in_text)
        if(line STREQUAL "")
            string(APPEND licence_text "\n .")
        else()
            string(APPEND licence_text "\n ${line}")
        endif()
    endif()
endforeach()
if(NOT licence_copyright OR NOT licence_text)
    message(FATAL_ERROR "LICENSE has no copyright line or no licence text")
endif()
configure_file(${packaging_dir}/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)

# Debian compresses changelogs always and other documents above 4 kB, reproducibly.
set(docs_dir ${PROJECT_BINARY_DIR}/doc)
set(compressed_docs "")
# The installed README is the operator's: the source tree's README is for developers.
foreach(pair "changelog|${packaging_dir}/changelog" "README.md|${PROJECT_SOURCE_DIR}/docs/operator-readme.md"
             "simulator.md|${PROJECT_SOURCE_DIR}/docs/simulator.md")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 name)
    list(GET pair 1 source)
    add_custom_command(OUTPUT ${docs_dir}/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${docs_dir}/${name}
        COMMAND gzip -9 -n -f ${docs_dir}/${name}
        DEPENDS ${source}
        VERBATIM)
    list(APPEND compressed_docs ${docs_dir}/${name}.gz)
endforeach()
add_custom_target(fleetwright-docs ALL DEPENDS ${compressed_docs})

install(FILES ${PROJECT_BINARY_DIR}/copyright ${docs_dir}/changelog.gz ${docs_dir}/README.md.gz
              ${docs_dir}/simulator.md.gz
        DESTINATION ${main_docdir})
foreach(component dev dbgsym)
    install(FILES ${PROJECT_BINARY_DIR}/copyright ${docs_dir}/changelog.gz
            DESTINATION ${${component}_docdir} COMPONENT ${component})
endforeach()
install(FILES ${packaging_dir}/lintian-overrides/fleetwright DESTINATION ${overrides_dir})
install(FILES ${packaging_dir}/lintian-overrides/fleetwright-provider-dev
        DESTINATION ${overrides_dir} COMPONENT dev)
install(FILES ${packaging_dir}/lintian-overrides/fleetwright-dbgsym
        DESTINATION ${overrides_dir} COMPONENT dbgsym)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "fleetwright")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${FLEETWRIGHT_MAINTAINER}")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL fleetwright dev dbgsym)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_FLEETWRIGHT_PACKAGE_NAME "fleetwright")
set(CPACK_DEBIAN_FLEETWRIGHT_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_FLEETWRIGHT_PACKAGE_SHLIBDEPS ON)
# The window's layout is drawn for the metric-compatible narrow face.
set(CPACK_DEBIAN_FLEETWRIGHT_PACKAGE_DEPENDS "fonts-liberation")
file(READ ${packaging_dir}/description-fleetwright CPACK_DEBIAN_FLEETWRIGHT_DESCRIPTION)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME "fleetwright-provider-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEV_PACKAGE_ARCHITECTURE "all")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "fleetwright")
# The kit's Makefile, its README and the manual page find the header through pkg-config.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "pkgconf | pkg-config")
file(READ ${packaging_dir}/description-fleetwright-provider-dev
     CPACK_DEBIAN_DEV_DESCRIPTION)

set(CPACK_DEBIAN_DBGSYM_PACKAGE_NAME "fleetwright-dbgsym")
set(CPACK_DEBIAN_DBGSYM_PACKAGE_SECTION "debug")
set(CPACK_DEBIAN_DBGSYM_PACKAGE_DEPENDS "fleetwright (= ${PROJECT_VERSION})")
file(READ ${packaging_dir}/description-fleetwright-dbgsym CPACK_DEBIAN_DBGSYM_DESCRIPTION)
set(CPACK_PRE_BUILD_SCRIPTS ${packaging_dir}/split_debug.cmake)
set(CPACK_FLEETWRIGHT_MAIN_COMPONENT fleetwright)
set(CPACK_FLEETWRIGHT_DEBUG_COMPONENT dbgsym)

# CPack adds maintainer scripts that run ldconfig for any shared object under /usr/lib,
# but the simulator is a private plugin that nothing links against: naming a postinst and
# a postrm that do not exist turns them off, and none is shipped (cpack warns that it finds
# neither file, which is the point).
set(CPACK_DEBIAN_FLEETWRIGHT_PACKAGE_CONTROL_EXTRA
    "${packaging_dir}/no-maintainer-scripts/postinst;${packaging_dir}/no-maintainer-scripts/postrm")
include(CPack)

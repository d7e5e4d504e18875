# The maker's kit: what a device maker needs to build a data-provider library from the
# installed files alone. It installs as the component "dev" (the package
# fleetwright-provider-dev, architecture all): fleetwright-provider.pc, the manual page
# fleetwright-provider(7) and the example provider with its Makefile, beside the ABI header
# that cmake/Packaging.cmake installs.
include(GNUInstallDirs)

# The paths the package puts things at, which the .pc file and the manual page name.
if(CPACK_PACKAGING_INSTALL_PREFIX)
    set(KIT_PREFIX "${CPACK_PACKAGING_INSTALL_PREFIX}")
else()
    set(KIT_PREFIX "/usr")
endif()
# The program finds a maker's library through the dynamic linker's search path. The package
# serves every architecture, so the .pc file names the folder that path holds on all of
# them rather than one architecture's multiarch folder.
set(KIT_PROVIDERDIR "${KIT_PREFIX}/lib")
set(KIT_PROVIDER_NAME "libzarvik-dataprovider.so.1")
file(STRINGS ${PROJECT_SOURCE_DIR}/src/device/dataprovider_abi.h abi_line
     REGEX "^#define ZDP_ABI_VERSION ")
string(REGEX REPLACE "^#define ZDP_ABI_VERSION ([0-9]+)u.*" "\\1" KIT_ABI_VERSION "${abi_line}")
set(KIT_PCDIR "${CMAKE_INSTALL_DATADIR}/pkgconfig")
set(KIT_EXAMPLEDIR "${CMAKE_INSTALL_DATADIR}/doc/fleetwright-provider-dev/examples")

configure_file(${PROJECT_SOURCE_DIR}/packaging/fleetwright-provider.pc.in
               ${PROJECT_BINARY_DIR}/fleetwright-provider.pc @ONLY)

# The manual page takes the protocol's facts from the program's own header.
add_executable(fw_provider_manual ${PROJECT_SOURCE_DIR}/src/device/provider_manual.cpp)
target_link_libraries(fw_provider_manual PRIVATE fw_protocol)
set(provider_manual ${PROJECT_BINARY_DIR}/fleetwright-provider.7)
add_custom_command(OUTPUT ${provider_manual}.gz
    COMMAND fw_provider_manual ${PROJECT_SOURCE_DIR}/docs/fleetwright-provider.7.in
            ${provider_manual} ${PROJECT_SOURCE_DIR}/src/device/dataprovider_abi.h version=${PROJECT_VERSION} providerdir=${KIT_PROVIDERDIR}
            includedir=${KIT_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}/fleetwright
            pcdir=${KIT_PREFIX}/${KIT_PCDIR} exampledir=${KIT_PREFIX}/${KIT_EXAMPLEDIR}
    COMMAND gzip -9nkf ${provider_manual}
    DEPENDS fw_provider_manual ${PROJECT_SOURCE_DIR}/docs/fleetwright-provider.7.in
            ${PROJECT_SOURCE_DIR}/src/device/dataprovider_abi.h
    COMMENT "Writing the manual page fleetwright-provider(7)"
    VERBATIM)
add_custom_target(fleetwright-provider-manual ALL DEPENDS ${provider_manual}.gz)
set(FLEETWRIGHT_PROVIDER_MANUAL ${provider_manual})

install(FILES ${PROJECT_BINARY_DIR}/fleetwright-provider.pc DESTINATION ${KIT_PCDIR}
        COMPONENT dev)
install(FILES ${provider_manual}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man7 COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/examples/provider/example.c
              ${PROJECT_SOURCE_DIR}/examples/provider/Makefile
        DESTINATION ${KIT_EXAMPLEDIR} COMPONENT dev)

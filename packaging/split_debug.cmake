# CPack runs this after staging the packages' files and before building the packages: every
# ELF file of the main package is stripped as Debian strips them, and its debug information
# moves to the debug-symbols package under /usr/lib/debug/.build-id/, where a debugger
# finds it by the binary's build ID.
#
# (CPack's own debug-symbols option writes an md5sums file with the build machine's paths
# and a package without a copyright file, which lintian rightly refuses.)

set(stage "${CPACK_TEMPORARY_DIRECTORY}")
set(main_root "${stage}/${CPACK_FLEETWRIGHT_MAIN_COMPONENT}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(debug_root "${stage}/${CPACK_FLEETWRIGHT_DEBUG_COMPONENT}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${main_root}" OR NOT IS_DIRECTORY "${debug_root}")
    message(FATAL_ERROR "split_debug: no staged files in ${main_root} or ${debug_root}")
endif()

find_program(OBJCOPY objcopy REQUIRED)
find_program(READELF readelf REQUIRED)
find_program(STRIP strip REQUIRED)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status ERROR_VARIABLE error
                    OUTPUT_QUIET)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "split_debug: '${ARGN}' failed: ${error}")
    endif()
endfunction()

file(GLOB_RECURSE files LIST_DIRECTORIES false "${main_root}/*")
set(split 0)
foreach(file IN LISTS files)
    if(IS_SYMLINK "${file}")
        continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(NOT magic STREQUAL "7f454c46")
        continue()
    endif()
    execute_process(COMMAND ${READELF} --file-header --notes --section-headers "${file}"
                    OUTPUT_VARIABLE header RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "split_debug: readelf cannot read ${file}")
    endif()
    if(header MATCHES "\\.debug_info")
        if(NOT header MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
            message(FATAL_ERROR "split_debug: ${file} has debug information but no build ID")
        endif()
        set(debug_file "${debug_root}/lib/debug/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug")
        get_filename_component(debug_dir "${debug_file}" DIRECTORY)
        file(MAKE_DIRECTORY "${debug_dir}")
        run(${OBJCOPY} --only-keep-debug --compress-debug-sections "${file}" "${debug_file}")
        file(CHMOD "${debug_file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        math(EXPR split "${split} + 1")
    endif()
    # Shared objects keep the symbols that other objects link against.
    set(strip_options --remove-section=.comment --remove-section=.note)
    if(header MATCHES "Type: +DYN \\(Shared object file\\)")
        list(APPEND strip_options --strip-unneeded)
    endif()
    run(${STRIP} ${strip_options} "${file}")
    if(DEFINED debug_file)
        run(${OBJCOPY} --add-gnu-debuglink=${debug_file} "${file}")
        unset(debug_file)
    endif()
endforeach()
if(split EQUAL 0)
    message(FATAL_ERROR "split_debug: no binary has debug information for the debug package; "
                        "package a build with -g (RelWithDebInfo, as scripts/package does)")
endif()
message(STATUS "split_debug: debug information of ${split} binaries moved to the debug package")

# Run by CPack on the staged tree, before it is packed: adds the package's
# changelog, which a Debian package must carry, and compresses it and the
# manual pages with gzip -9n as Debian wants (no name or time stamp inside,
# so that a rebuild makes the same bytes); adds velmotag's state directory,
# root's and writable by root alone, as velmotag requires; and gives
# draldb.pc the package's own plain paths in place of the relocatable
# ones that `cmake --install` writes (a package never moves).
set(doc_dir "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/velmo")
file(COPY "${CPACK_VELMO_SOURCE_DIR}/packaging/changelog" DESTINATION "${doc_dir}")
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(file IN LISTS pages ITEMS "${doc_dir}/changelog")
    execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip -9nf ${file} failed")
    endif()
endforeach()

file(MAKE_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_VELMO_STATE_DIR}")
file(CHMOD "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_VELMO_STATE_DIR}" DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

file(GLOB pc_files "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/*/pkgconfig/draldb.pc")
foreach(pc IN LISTS pc_files)
    file(READ "${pc}" text)
    string(REGEX REPLACE "prefix=[^\n]*" "prefix=${CPACK_PACKAGING_INSTALL_PREFIX}" text "${text}")
    file(WRITE "${pc}" "${text}")
endforeach()

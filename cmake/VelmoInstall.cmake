# What `cmake --install` puts where (GNUInstallDirs): the four programs into
# bin, the site setup tool velmo-setup-site into sbin, libdraldb.a and its
# header, the manual pages (with a link page for each draldb function), a
# pkg-config file and a CMake package, so that a C program links the library
# through `pkg-config --cflags --libs draldb` and a CMake project through
# `find_package(draldb)` and the target draldb::draldb; and into the
# documentation directory the copyright file and example systemd units. Test
# programs (the sandboxed tagger and the test binaries) are not installed.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VELMO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/draldb)
set(VELMO_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS velmotag dralgen drallist idsample
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(TARGETS draldb EXPORT draldbTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/store/include/draldb.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The site setup tool. It lays out paths under /usr and needs root for
# them, so it is an administrator's command: sbin, manual section 8. The
# installed copy is scripts/setup-site with this build's fixed paths as its
# defaults, so that without options it lays out the site that the installed
# velmotag reads.
set(setup_site_source ${PROJECT_SOURCE_DIR}/scripts/setup-site)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${setup_site_source})
file(READ ${setup_site_source} setup_site)
string(REGEX REPLACE "^#![^\n]*" "#!/bin/bash" setup_site "${setup_site}")
foreach(setting CONF_DIR UNZIP_PATH ZIP_PATH TMP_DIR STATE_DIR)
    string(TOLOWER "default_${setting}" name)
    string(REPLACE "'" "'\\''" value "${VELMOTAG_${setting}}")
    string(REGEX MATCHALL "\n${name}=[^\n]*" found "${setup_site}")
    list(LENGTH found count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "scripts/setup-site: expected one line '${name}=...', found ${count}")
    endif()
    string(REPLACE "${found}" "\n${name}='${value}'" setup_site "${setup_site}")
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/setup/velmo-setup-site "${setup_site}")
file(CHMOD ${PROJECT_BINARY_DIR}/setup/velmo-setup-site PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(PROGRAMS ${PROJECT_BINARY_DIR}/setup/velmo-setup-site DESTINATION ${CMAKE_INSTALL_SBINDIR})

# Manual pages: the section is the file name's last suffix.
set(VELMO_MAN_PAGES
    velmotag.1 dralgen.1 drallist.1 idsample.1 draldb.3 velmotag.conf.5 velmo-setup-site.8)
foreach(page IN LISTS VELMO_MAN_PAGES)
    string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section ${page})
    install(FILES ${PROJECT_SOURCE_DIR}/docs/man/${page}
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# One link page per function declared in draldb.h (a declaration line starts
# with its return type), so that `man dral_open` opens draldb(3).
set(draldb_header ${PROJECT_SOURCE_DIR}/store/include/draldb.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${draldb_header})
file(STRINGS ${draldb_header} declarations REGEX "^[a-z][^(]*[ *][a-z_0-9]+\\(")
set(VELMO_DRALDB_FUNCTIONS "")
foreach(line IN LISTS declarations)
    string(REGEX REPLACE "^[^(]*[ *]([a-z_0-9]+)\\(.*$" "\\1" function "${line}")
    list(APPEND VELMO_DRALDB_FUNCTIONS ${function})
endforeach()
if(NOT VELMO_DRALDB_FUNCTIONS)
    message(FATAL_ERROR "no function declarations found in ${draldb_header}")
endif()
set(VELMO_MAN_LINK_DIR ${PROJECT_BINARY_DIR}/man-links/man3)
file(REMOVE_RECURSE ${VELMO_MAN_LINK_DIR})
foreach(function IN LISTS VELMO_DRALDB_FUNCTIONS)
    file(WRITE ${VELMO_MAN_LINK_DIR}/${function}.3 ".so man3/draldb.3\n")
endforeach()
install(DIRECTORY ${VELMO_MAN_LINK_DIR}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)

# The copyright file, and systemd units that tag the upload area every ten
# minutes, for the operator to adapt and enable (README: "Tagging from a
# systemd timer").
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The units go where systemd looks for a system's units under the prefix
# (lib/systemd/system, never a multiarch directory), disabled.
install(FILES ${PROJECT_SOURCE_DIR}/docs/examples/velmotag-uploads.service
    ${PROJECT_SOURCE_DIR}/docs/examples/velmotag-uploads.timer
    DESTINATION lib/systemd/system)

# The library is C++ inside: a program linked by the C compiler needs the
# C++ runtime too, that is the libraries that the C++ compiler adds on its
# own and the C compiler does not (stdc++ and m with GCC and Clang).
set(DRALDB_CXX_RUNTIME_LIBS "")
set(DRALDB_PC_RUNTIME_LIBS "")
foreach(lib IN LISTS CMAKE_CXX_IMPLICIT_LINK_LIBRARIES)
    if(NOT lib IN_LIST CMAKE_C_IMPLICIT_LINK_LIBRARIES AND NOT lib MATCHES "^-"
       AND NOT lib IN_LIST DRALDB_CXX_RUNTIME_LIBS)
        list(APPEND DRALDB_CXX_RUNTIME_LIBS ${lib})
        string(APPEND DRALDB_PC_RUNTIME_LIBS " -l${lib}")
    endif()
endforeach()

# CMake package: exported target draldb::draldb, a version file and the
# config file that loads them (and adds the C++ runtime for C-only users).
install(EXPORT draldbTargets
    NAMESPACE draldb::
    DESTINATION ${VELMO_CMAKE_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/draldbConfig.cmake.in
    ${PROJECT_BINARY_DIR}/draldbConfig.cmake
    INSTALL_DESTINATION ${VELMO_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/draldbConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/draldbConfig.cmake
    ${PROJECT_BINARY_DIR}/draldbConfigVersion.cmake
    DESTINATION ${VELMO_CMAKE_PACKAGE_DIR})

# pkg-config file. Paths are taken relative to the file's own place
# (${pcfiledir}), so the installed tree may be moved or installed with
# --prefix or DESTDIR. The C++ runtime stands in Libs, not Libs.private:
# there is only the static library, and a plain --libs must link.
function(velmo_pc_path_from_prefix var dir)
    if(IS_ABSOLUTE "${dir}")
        set(${var} "${dir}" PARENT_SCOPE)
    else()
        set(${var} "\${prefix}/${dir}" PARENT_SCOPE)
    endif()
endfunction()

if(IS_ABSOLUTE "${VELMO_PKGCONFIG_DIR}")
    set(DRALDB_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
    file(RELATIVE_PATH relative_prefix /base/${VELMO_PKGCONFIG_DIR} /base)
    string(REGEX REPLACE "/$" "" relative_prefix "${relative_prefix}")
    set(DRALDB_PC_PREFIX "\${pcfiledir}/${relative_prefix}")
endif()
velmo_pc_path_from_prefix(DRALDB_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
velmo_pc_path_from_prefix(DRALDB_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")

configure_file(${PROJECT_SOURCE_DIR}/cmake/draldb.pc.in ${PROJECT_BINARY_DIR}/draldb.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/draldb.pc DESTINATION ${VELMO_PKGCONFIG_DIR})

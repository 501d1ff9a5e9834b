# `cpack -G DEB` in a release build makes velmo_<version>_<arch>.deb: what
# `cmake --install` puts in place, under /usr, with the manual pages
# compressed, a changelog and velmotag's state directory added
# (cmake/VelmoDebStage.cmake), the binaries
# stripped, and the dependencies on zip and unzip and on the libraries that
# the programs link (found by dpkg-shlibdeps, from dpkg-dev).
set(CPACK_PACKAGE_NAME velmo)
set(CPACK_PACKAGE_VENDOR "velmo site tools developers")
set(VELMO_PACKAGE_MAINTAINER
    "Seed 45bd0440 maintainers <maintainers@users.noreply.c-seed-45bd0440.example>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_CONTACT "${VELMO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "site tools of a file-upload host: ZIP archive tagger, block store")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "velmotag stamps uploaded ZIP archives with the site's mark: it rewrites\n\
each archive's description FILE_ID.DIZ with the site's tag line, sets the\n\
archive comment and adds the site's info file, through Info-ZIP unzip and\n\
zip. velmo-setup-site lays out the site files that velmotag reads.\n\
\n\
draldb is a small static C library for a store of typed blocks with an\n\
index of 8-byte names, per-user fields and a registry of user identifiers;\n\
dralgen builds a store from marked-up text, drallist lists its index and\n\
idsample prints one identifier.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "zip, unzip")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/VelmoDebStage.cmake)
set(CPACK_VELMO_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_VELMO_STATE_DIR ${VELMOTAG_STATE_DIR})
set(CPACK_GENERATOR DEB)
include(CPack)

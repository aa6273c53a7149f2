# The Debian package: "cpack --config deb/CPackConfig.cmake" in the build
# folder (or scripts/package.sh) writes sitowiak_<version>_<arch>.deb there,
# from the same install rules as "cmake --install". Its version is the
# project's, from the top-level CMakeLists.txt.
include(GNUInstallDirs)

set(SITOWIAK_PACKAGE_MAINTAINER "Pląskun <kontakt@plaskun.example>")
# The package installs under /usr whatever the build's own prefix is.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(SITOWIAK_INSTALLED_PROGRAM ${CPACK_PACKAGING_INSTALL_PREFIX}/bin/sitowiak)

# The files Debian asks every package to carry in its doc folder.
string(TIMESTAMP SITOWIAK_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(deb_dir ${CMAKE_BINARY_DIR}/deb)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/copyright.in ${deb_dir}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/changelog.in ${deb_dir}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/postinst.in ${deb_dir}/postinst @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT ${deb_dir}/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nkf ${deb_dir}/changelog
  DEPENDS ${deb_dir}/changelog)
add_custom_target(sitowiak-package-docs ALL DEPENDS ${deb_dir}/changelog.gz)
install(FILES ${deb_dir}/copyright ${deb_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sitowiak)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sitowiak)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Pląskun")
set(CPACK_PACKAGE_CONTACT "${SITOWIAK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "filtering proxy for Usenet news (NNTP)")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SITOWIAK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION news)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${SITOWIAK_PRODUCT_URL}")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Sitowiak runs on the reader's own machine between a newsreader and its
news server. It re-encodes fetched articles and overviews into a chosen
character set, drops parts of multipart articles of another content type,
and relabels and signs posted articles. Lists of address patterns decide
who may read and who may post. The user interface is in Polish; the proxy
also runs without a display, as a systemd user service.
.
The package also holds sitowiak-filter, which rewrites one article or
overview from standard input as the proxy does.")
# Libraries from the programs' own needs; service names such as "nntp"
# come from netbase; postinst grants the capability with setcap.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "netbase, libcap2-bin")
# Both packages would own /usr/bin/compress, and that one takes other
# arguments than the one the distribution mode runs.
set(CPACK_DEBIAN_PACKAGE_CONFLICTS "ncompress")
# The windows are laid out for the widths of Liberation Sans.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${deb_dir}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A CPackConfig.cmake at the top of the build folder would reserve the
# target name "package", which the distribution package builder's library
# has: the configuration goes into deb/.
set(CPACK_OUTPUT_CONFIG_FILE ${deb_dir}/CPackConfig.cmake)
set(CPACK_SOURCE_OUTPUT_CONFIG_FILE ${deb_dir}/CPackSourceConfig.cmake)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)

# Builds the package and checks it without installing it. A sanitized build
# makes no package worth shipping, so the check runs in the normal build.
if(SITOWIAK_TESTS AND NOT SITOWIAK_SANITIZE)
  add_test(NAME DebianPackage
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/check-package.sh
            ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(DebianPackage PROPERTIES TIMEOUT 900
    ENVIRONMENT "CPACK=${CMAKE_CPACK_COMMAND}")
endif()

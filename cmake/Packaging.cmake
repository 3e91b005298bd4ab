# Version, installation checks and the Debian package. The version is the project's
# (project(tarnwick VERSION ...)); the programs, the manual pages and the package all take it.

target_compile_definitions(tarnwick-cli PRIVATE TARNWICK_VERSION="${PROJECT_VERSION}")

if(NOT TARGET tarnwick)
  # Without the desktop program there is nothing to install or package.
  return()
endif()

# cpack and `cmake --install` take what is built; building it is the Makefile's business, so the
# package does not wait for the tests and benchmarks to build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# Everything `cmake --install` copies, for `make install` and `make package` to build no more.
add_custom_target(installables)
add_dependencies(installables tarnwick tarnwick-cli tarnwick_man_pages)

# The installed tree must be exactly the expected list of files.
add_test(NAME install_tree
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DEXPECTED=${CMAKE_SOURCE_DIR}/tests/install/expected-files.txt
    -P ${CMAKE_SOURCE_DIR}/tests/install/check_install_tree.cmake)
set_tests_properties(install_tree PROPERTIES LABELS install)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnwick developers")
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <tarnwick@example.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "take still pictures out of playing video and improve them")
# One line of the package description a line here, as Debian wraps it.
set(CPACK_PACKAGE_DESCRIPTION "\
Tarnwick plays a media file and saves the frame on screen as a BMP file,
or records an area of the video at a fixed interval into a folder of
numbered BMP files. Image averaging turns many grabs of a still scene into
one clean picture; batch enlarging enlarges every image of a folder with
an exact cubic interpolation or brings it to a fixed size.

The package holds the desktop program (tarnwick) and the same jobs for the
shell (tarnwick-cli).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tarnwick_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarnwick developers <tarnwick@example.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnwick.example.org/")
# Library dependencies come from dpkg-shlibdeps, which appends them to these; the player library
# is opened with dlopen, out of its sight, so it is named here. Help and the links open through
# xdg-open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${TARNWICK_MPV_DEB_PACKAGE}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

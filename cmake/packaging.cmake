# Debian packages (CPack, generator DEB), one per install component:
#   libozrtofcam1          runtime   the shared library and its SONAME link
#   libozrtofcam-dev       dev       headers, CMake package, pkg-config file, .so link
#   ozrtofcam-tools        tools     ozr-capture, ozr-calibrate, ozr-sim and the virtual driver
#   python3-ozrtofcam      python    the Python module
#   gstreamer1.0-ozrtofcam gstreamer the ozrtofsrc element
# Configure with -DCMAKE_INSTALL_PREFIX=/usr (multiarch library directory,
# the distribution's Python directory), build, then run "cpack -G DEB" in the
# build directory.

set(OZR_DEB_MAINTAINER "libozrtofcam maintainers <maintainers@ozrtofcam.invalid>"
  CACHE STRING "Maintainer field of the Debian packages")
set(OZR_DEB_SOURCE libozrtofcam)
set(OZR_DEB_REVISION 1)

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Debian packages: CMAKE_INSTALL_PREFIX is ${CMAKE_INSTALL_PREFIX}; "
    "configure with -DCMAKE_INSTALL_PREFIX=/usr for packages with the Debian layout")
endif()

set(CPACK_PACKAGE_NAME ${OZR_DEB_SOURCE})
set(CPACK_PACKAGE_VENDOR "libozrtofcam maintainers")
set(CPACK_PACKAGE_CONTACT "${OZR_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it before every
# package's own synopsis. Each component's description starts with its own.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
# The Python module and the GStreamer element are packaged when they are built.
set(CPACK_COMPONENTS_ALL runtime dev tools)
if(TARGET ozrtofcam_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
if(TARGET gstozrtof)
  list(APPEND CPACK_COMPONENTS_ALL gstreamer)
endif()

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${OZR_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OZR_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ozrtofcam.invalid/")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${OZR_DEB_SOURCE})
# Dependencies on shared libraries from dpkg-shlibdeps. The library's package
# gets a shlibs file (CPack warns that the other packages' shared objects,
# the Python module and the virtual driver, have no SONAME: they are loaded
# by path, not linked); dpkg-shlibdeps finds the library in the build tree,
# and the other packages depend on the library's package of the same version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  "${PROJECT_BINARY_DIR}")

set(OZR_DEB_DEPENDS_LIB "libozrtofcam1 (= ${PROJECT_VERSION}-${OZR_DEB_REVISION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libozrtofcam1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The dynamic linker's cache is refreshed through dpkg's ldconfig trigger
# (CPack's postinst and postrm call ldconfig as well).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Time-of-Flight depth camera library for OZR310 and OZR320\n\
libozrtofcam runs a Time-of-Flight depth camera built on the OZR310 or OZR320\n\
sensor through its Video4Linux2 driver and turns the raw correlation samples\n\
into calibrated distance, amplitude, phase and grayscale images, with\n\
filters and point clouds.\n\
.\n\
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libozrtofcam-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${OZR_DEB_DEPENDS_LIB}")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Time-of-Flight depth camera library (development files)\n\
libozrtofcam runs a Time-of-Flight depth camera built on the OZR310 or OZR320\n\
sensor through its Video4Linux2 driver.\n\
.\n\
This package holds the headers, the CMake package (find_package(ozrtofcam))\n\
and the pkg-config file.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ozrtofcam-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
# ozr-view serves the page's 3-D library from the installed Debian package.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${OZR_DEB_DEPENDS_LIB}, libjs-three")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "Time-of-Flight depth camera tools and virtual sensor\n\
ozr-capture streams and saves frames of a camera built on the OZR310 or\n\
OZR320 sensor, records raw frames and writes point clouds. ozr-calibrate\n\
derives a camera's calibration from a wall, a flat field and a dark cloth.\n\
ozr-view serves the live camera to web browsers.\n\
ozr-sim runs a program against a virtual sensor that emulates the\n\
sensor's driver and renders a scene of known distances, or replays a\n\
recording.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-ozrtofcam)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${OZR_DEB_DEPENDS_LIB}, python3, python3-numpy")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
  "Time-of-Flight depth camera library (Python 3 module)\n\
The module ozrtofcam runs a Time-of-Flight depth camera built on the OZR310\n\
or OZR320 sensor and hands its frames over as numpy arrays.")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_NAME gstreamer1.0-ozrtofcam)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION video)
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_DEPENDS "${OZR_DEB_DEPENDS_LIB}")
set(CPACK_COMPONENT_GSTREAMER_DESCRIPTION
  "Time-of-Flight depth camera source element for GStreamer\n\
The element ozrtofsrc streams the distance, amplitude or grayscale images of\n\
a Time-of-Flight depth camera built on the OZR310 or OZR320 sensor.")

# Every package carries the copyright file and the Debian changelog in its
# documentation directory.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
  ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/debian/changelog.Debian
  RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "Debian packages: gzip of the changelog failed")
endif()
set(OZR_DEB_PACKAGES_BY_COMPONENT
  runtime libozrtofcam1 dev libozrtofcam-dev tools ozrtofcam-tools
  python python3-ozrtofcam gstreamer gstreamer1.0-ozrtofcam)
while(OZR_DEB_PACKAGES_BY_COMPONENT)
  list(POP_FRONT OZR_DEB_PACKAGES_BY_COMPONENT component package)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
    ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    COMPONENT ${component})
  # Lintian overrides: see the file.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides.in
    ${CMAKE_BINARY_DIR}/debian/lintian-overrides/${package} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/debian/lintian-overrides/${package}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    COMPONENT ${component})
endwhile()

include(CPack)

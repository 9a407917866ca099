# Installation: the shared library with its links, the public headers, a CMake
# package (find_package(ozrtofcam) -> ozrtofcam::ozrtofcam) and a pkg-config file.
include(CMakePackageConfigHelpers)

# Components (the Debian packages of cmake/packaging.cmake): "runtime" is the
# shared library with its SONAME link, "dev" what building against it needs.
install(TARGETS ozrtofcam EXPORT ozrtofcamTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# The public headers, and the headers of the processing core that they include.
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/ozr
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
include(${CMAKE_CURRENT_SOURCE_DIR}/cmake/public_kyr_headers.cmake)
foreach(header ${OZR_PUBLIC_KYR_HEADERS})
  get_filename_component(subdir ${header} DIRECTORY)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/include/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${subdir} COMPONENT dev)
endforeach()

set(OZR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ozrtofcam)
install(EXPORT ozrtofcamTargets NAMESPACE ozrtofcam:: DESTINATION ${OZR_CMAKE_DIR}
  COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/ozrtofcamConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ozrtofcamConfig.cmake INSTALL_DESTINATION ${OZR_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ozrtofcamConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ozrtofcamConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/ozrtofcamConfigVersion.cmake DESTINATION ${OZR_CMAKE_DIR}
  COMPONENT dev)

# The pkg-config file finds its prefix from its own place, so that an
# installed tree can be moved.
file(RELATIVE_PATH OZR_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/ozrtofcam.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/ozrtofcam.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ozrtofcam.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# A manual page, compressed as Debian expects, into share/man/man1 with the
# given component.
function(ozr_install_man_page page component)
  get_filename_component(name ${page} NAME)
  set(out ${CMAKE_BINARY_DIR}/man/${name})
  configure_file(${page} ${out} COPYONLY)
  execute_process(COMMAND gzip -9nf ${out} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip of the manual page ${page} failed")
  endif()
  install(FILES ${out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT ${component})
endfunction()

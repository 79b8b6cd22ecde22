# Installing and packaging the tools as admin commands: the commands in
# sbin (their install rules sit with their targets), the manual pages of
# man/ (gzipped at build time, so that the installed file and the packaged
# one are the same), and the message catalogues under share/locale.  The tool reads its catalogues from
# /usr/share/locale, so the install prefix defaults to /usr.
#
#   cmake --install BUILD [--prefix /usr]          (DESTDIR honoured)
#   cpack --config BUILD/CPackConfig.cmake -G RPM   -> deltamaint-VERSION.rpm
#
# The RPM is built without automatic requirements: Debian's rpm database
# knows none of the system's libraries, so generated requirements on libc
# and libstdc++ could never be met there.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()

add_subdirectory(po)

# Installing and packaging take the build tree as it is and never compile:
# `cmake --install` does not build either, and a package made while the
# sources are being edited must not rebuild behind the tests' backs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The manual pages man/NAME.SECTION, each compressed without a name or
# time stamp in the gzip header so that a rebuild gives the same bytes,
# and installed in share/man/manSECTION.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
file(GLOB DM_MANPAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.[1-8])
set(DM_MANPAGES_GZ)
foreach(page ${DM_MANPAGES})
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*\\.([1-8])$" "\\1" section ${name})
  set(gz ${PROJECT_BINARY_DIR}/man/${name}.gz)
  add_custom_command(
    OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${page} > ${gz}
    DEPENDS ${page}
    COMMENT "Compressing the manual page ${name}")
  list(APPEND DM_MANPAGES_GZ ${gz})
  install(FILES ${gz} DESTINATION share/man/man${section})
endforeach()
add_custom_target(manpages ALL DEPENDS ${DM_MANPAGES_GZ})

# The RPM package "deltamaint".
set(CPACK_GENERATOR RPM)
set(CPACK_PACKAGE_NAME deltamaint)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME deltamaint-${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "deltamaint project")
set(CPACK_PACKAGE_CONTACT "deltamaint project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Applies maintenance bundles to the boot images of network-booted POS clients")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_LICENSE "Proprietary")
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_DESCRIPTION
    "applyKestro builds a new client boot image from an old one and a maintenance bundle, checks it with tripwire and e2fsck, and records the outcome; with its manual page and message catalogues.")
set(CPACK_RPM_PACKAGE_AUTOREQ OFF)
# No /usr/lib/.build-id links: the package installs its three files only.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none")
# The package owns its files only, not the system's directories they lie in.
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
  /usr/sbin /usr/share/man /usr/share/man/man1 /usr/share/man/man8 /usr/share/locale
  /usr/share/locale/de /usr/share/locale/de/LC_MESSAGES)
include(CPack)

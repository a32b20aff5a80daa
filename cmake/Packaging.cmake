# A Debian package of the tool and its manual page: `cpack -G DEB` in the
# build directory writes d88unpack_<version>_<arch>.deb there. It holds what
# `cmake --install` installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME d88unpack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "d88unpack developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "list and extract the files of a PC-98 disk in a D88 image")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME d88unpack)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "d88unpack developers <d88unpack@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "d88unpack reads a D88 floppy-disk image of a PC-98 data disk (2DD or 2HD),
prints one line for every entry of the disk's own directory and writes each
entry's data, byte for byte, to a file of that name in the current
directory. It refuses names that would leave the current directory,
symbolic links, the image itself and extents off the disk.")
# The tool needs only the C and C++ runtime; dpkg-shlibdeps names the exact
# versions where it is installed.
find_program(D88UNPACK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(D88UNPACK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

include(CPack)

# Where an installed Tagforge keeps its parts, and the Debian package.
#
#   bin/tagforge, bin/tagforge-station           what an operator runs
#   lib/tagforge/station_tool, tagforge-static,  the station's helper and the
#     Tagforge.efi                               binaries for other machines
#   share/man/man1/tagforge.1
#   lib/tmpfiles.d/tagforge.conf                 the lock folder, made at boot
#
# The station looks for station_tool in ../lib/tagforge beside its own folder,
# so these paths are fixed, whatever GNUInstallDirs would pick.
set(TAGFORGE_PRIVATE_DIR lib/tagforge)

install(TARGETS tagforge RUNTIME DESTINATION bin)
install(PROGRAMS scripts/station.sh DESTINATION bin RENAME tagforge-station)
install(TARGETS station_tool RUNTIME DESTINATION ${TAGFORGE_PRIVATE_DIR})
if(TARGET tagforge_static)
  install(TARGETS tagforge_static RUNTIME DESTINATION ${TAGFORGE_PRIVATE_DIR})
endif()
if(TARGET tagforge_efi)
  install(FILES ${CMAKE_BINARY_DIR}/Tagforge.efi DESTINATION ${TAGFORGE_PRIVATE_DIR} OPTIONAL)
endif()
install(FILES docs/tagforge.1 DESTINATION share/man/man1)
install(FILES packaging/tagforge-tmpfiles.conf DESTINATION lib/tmpfiles.d RENAME tagforge.conf)

set(CPACK_PACKAGE_NAME tagforge)
set(CPACK_PACKAGE_VENDOR "Tagforge")
set(CPACK_PACKAGE_CONTACT "Tagforge developers <tagforge@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Reads, lists, clears and edits the IPMI FRU inventory of server boards")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# The libraries tagforge links (libfreeipmi, the C++ runtime) are found by
# dpkg-shlibdeps; the station needs GNU parallel, which no binary links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "parallel")
include(CPack)

# Installation and the Debian package. `cmake --install` lays out the programs, the help, the
# manual pages, the menu entry and the icon under a prefix; CPack's DEB generator packs that
# tree, with the version of project() and the dependencies dpkg-shlibdeps computes.
# scripts/package.sh builds the package into dist/.
include(GNUInstallDirs)

set(HALVERN_PACKAGE halvern)
set(HALVERN_MAINTAINER "Halvern! maintainers <maintainers@users.noreply.c-seed-11edb9fb.example>"
    CACHE STRING "Maintainer of the Debian package: name <address>")
set(HALVERN_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${HALVERN_PACKAGE})
set(HALVERN_STAGE ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The manual pages and the changelog go in compressed as Debian keeps them (gzip -9n: no name
# or time stamp inside, so the same sources give the same bytes).
# The changelog's date is the build's (SOURCE_DATE_EPOCH when set).
string(TIMESTAMP HALVERN_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/halvern.1.in ${HALVERN_STAGE}/halvern.1 @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${HALVERN_STAGE}/changelog @ONLY)
# halvern-upload.1 as the build wrote it, with the version of project().
set(HALVERN_MAN_UPLOAD ${CMAKE_BINARY_DIR}/halvern-upload.1)
set(HALVERN_GZIPPED)
foreach(source IN ITEMS ${HALVERN_STAGE}/halvern.1 ${HALVERN_MAN_UPLOAD} ${HALVERN_STAGE}/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${HALVERN_STAGE}/${name}.gz
    COMMAND gzip -9n -c ${source} > ${HALVERN_STAGE}/${name}.gz
    DEPENDS ${source} VERBATIM)
  list(APPEND HALVERN_GZIPPED ${HALVERN_STAGE}/${name}.gz)
endforeach()
add_custom_target(halvern_install_files ALL DEPENDS ${HALVERN_GZIPPED})

install(TARGETS halvern halvern-upload OPTIONAL RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The help: the program looks beside itself first, then in ../share/halvern.
install(FILES ${HALVERN_HELP_SOURCE} DESTINATION ${CMAKE_INSTALL_DATADIR}/halvern)
install(FILES ${HALVERN_STAGE}/halvern.1.gz ${HALVERN_STAGE}/halvern-upload.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/halvern.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/app/icons/halvern-${size}.png RENAME halvern.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/app/icons/halvern.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${HALVERN_STAGE}/changelog.gz ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${HALVERN_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${HALVERN_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${HALVERN_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads the window system's platform plugin at run time, where dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
# The synopsis, then the extended description; CPack indents its lines and marks the paragraph.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "firmware uploader for video projectors over a serial line
A desktop tool for service technicians that loads a new operating system (the
firmware) into a video projector over a serial line or a serial device server
(RFC 2217 or raw TCP). It finds the projector, reads its power state, lists
the firmware releases of a working directory, brings the projector through
standby and cool-down into upload mode and sends every file of the chosen
release over an acknowledged protocol with retries.

The command-line uploader halvern-upload runs the same upload without a
window, on one projector or many at once.")
include(CPack)

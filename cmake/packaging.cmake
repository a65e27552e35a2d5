# What `cmake --install` puts where, and the release packages CPack makes of
# it: a ZIP of the static .exe for Windows; for Linux a .deb, and a portable
# .tar.gz that carries the Qt it needs for every other distribution. All carry
# the project's one version number.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME dyvenhall-skin-updater)
set(CPACK_PACKAGE_VENDOR "The Dyvenhall Skin Updater developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Upgrades Dyvenhall skins of Korvash from version 1.3 to 1.5")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
# The same bytes for one commit, whatever the folder, the time, the user, the
# umask or the time zone: times from SOURCE_DATE_EPOCH
# (cmake/package-epoch.cmake), and each package rewritten without owners or
# the umask's modes (cmake/normalize.cmake).
set(CPACK_DSU_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_DSU_NORMALIZE "${PROJECT_SOURCE_DIR}/packaging/normalize")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/package-epoch.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/normalize.cmake")

if(WIN32)
  # Everything in one folder, README and licence as text a double click opens.
  install(TARGETS dsu_win RUNTIME DESTINATION .)
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION . RENAME README.txt)
  install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION . RENAME LICENSE.txt)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-windows-x64")
  set(DSU_PACKAGE_FILE "${CPACK_PACKAGE_FILE_NAME}.zip")
else()
  install(TARGETS dyvenhall-skin-updater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${PROJECT_SOURCE_DIR}/packaging/dyvenhall-skin-updater.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # Every size scripts/make-icon draws, named by its pixel size.
  file(GLOB icons CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/app/resources/icons/*.png")
  foreach(icon ${icons})
    get_filename_component(size ${icon} NAME_WE)
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME dyvenhall-skin-updater.png)
  endforeach()

  # The manual page and the changelog, compressed as Debian wants them.
  set(gzipped)
  foreach(file man/dyvenhall-skin-updater.1 doc/changelog)
    get_filename_component(name ${file} NAME)
    configure_file("${PROJECT_SOURCE_DIR}/packaging/${name}" "${PROJECT_BINARY_DIR}/${file}" @ONLY)
    add_custom_command(
        OUTPUT "${PROJECT_BINARY_DIR}/${file}.gz"
        COMMAND gzip -9nkf "${PROJECT_BINARY_DIR}/${file}"
        DEPENDS "${PROJECT_BINARY_DIR}/${file}"
        VERBATIM)
    list(APPEND gzipped "${PROJECT_BINARY_DIR}/${file}.gz")
  endforeach()
  add_custom_target(dsu_gzipped_docs ALL DEPENDS ${gzipped})
  install(FILES "${PROJECT_BINARY_DIR}/man/dyvenhall-skin-updater.1.gz"
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES "${PROJECT_SOURCE_DIR}/packaging/copyright" "${PROJECT_SOURCE_DIR}/README.md"
                "${PROJECT_BINARY_DIR}/doc/changelog.gz"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})

  execute_process(COMMAND dpkg --print-architecture
                  OUTPUT_VARIABLE DSU_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(NOT DSU_DEB_ARCH)
    set(DSU_DEB_ARCH amd64)
  endif()
  set(CPACK_GENERATOR DEB TGZ)
  # The archive's name and its top folder; the .deb names itself.
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_DEBIAN_FILE_NAME "${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_${DSU_DEB_ARCH}.deb")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${DSU_DEB_ARCH})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_VENDOR} <maintainers@users.noreply.c-seed-6c82e7a5.example>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the program links (Qt, xcb, the C++ runtime), as
  # dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The long description; the summary above is its synopsis.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "For players of the train simulator Korvash who run it under Wine or\n"
      "Proton and paint skins with Dyvenhall. It finds both installs in the\n"
      "Wine prefix, counts the skins whose skin.dat is still at version 1.3,\n"
      "and rewrites them to version 1.5, replacing each template reference by\n"
      "the kuids that the installed content declares. Each descriptor is\n"
      "replaced atomically; it is never left half-written.")
  set(DSU_PACKAGE_FILE "${CPACK_DEBIAN_FILE_NAME}")

  # The archive: the installed tree, then made portable by
  # packaging/portable/bundle once CPack has staged it.
  set(CPACK_DSU_BUNDLE "${PROJECT_SOURCE_DIR}/packaging/portable/bundle")
  set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/portable.cmake")
  set(DSU_PORTABLE_FILE "${CPACK_PACKAGE_FILE_NAME}.tar.gz")
endif()

include(CPack)

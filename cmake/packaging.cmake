# Installation under any prefix (`cmake --install build --prefix P`) and the Debian package CPack
# makes from it (`cpack -G DEB` in the build folder). Included after the targets exist.

# The application id names the desktop entry, the icon and the AppStream file alike; the window
# recognises an installed copy of itself by that AppStream file (src/platform/disk.cpp).
set(VOXTREL_APP_ID io.github.voxtrel.Voxtrel)

include(GNUInstallDirs)

install(TARGETS voxtrel-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/voxtrel-check.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/voxtrel-check.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME voxtrel-check)
# Built into the programs as well; installed as the model for a user's own rules file.
install(FILES data/suspect-rules.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/voxtrel)

if(VOXTREL_BUILD_APP)
  install(TARGETS voxtrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES docs/voxtrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES data/${VOXTREL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/${VOXTREL_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES data/${VOXTREL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Debian keeps a package's licence as /usr/share/doc/<package>/copyright.
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/voxtrel RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voxtrel)
set(CPACK_PACKAGE_VENDOR "The Voxtrel authors")
set(CPACK_PACKAGE_CONTACT "The Voxtrel authors <voxtrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dead link checker for Japanese web sites")
# Debian shows the description as it is, so its lines are broken here, under 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Voxtrel reads the HTML pages of a web site (a local folder tree, one local"
  "file, or one page fetched from a web server; Shift_JIS, EUC-JP, UTF-8 or"
  "ISO-2022-JP), requests every absolute link it finds (or, when asked, every"
  "link a browser follows) and lists the ones that no longer answer. The results"
  "can be saved as an HTML table or as comma-separated text. Ctrl-C or the abort"
  "button stops a run at once."
  "."
  "The package holds the Qt window, voxtrel, and the headless checker for"
  "terminals and CI jobs, voxtrel-check.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The default build keeps debugging information; the package does not need it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see in the binaries: the certificates https:// links are checked
# with, the face the window is laid out for and Qt's own Japanese captions (message box buttons).
# Qt's xcb and offscreen platform plugins come with libqt6gui6, which shlibdeps finds.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates")
# The completion of voxtrel-check's options works only where bash-completion is installed.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
if(VOXTREL_BUILD_APP)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", fonts-noto-cjk, qt6-translations-l10n")
  # Link names may hold emoji; without a colour face they show as empty boxes.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-color-emoji")
endif()

include(CPack)

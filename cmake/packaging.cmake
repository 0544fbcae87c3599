# Where `cmake --install` puts Zibu, and the packages CPack makes of it (scripts/package.sh):
# on Linux the GNU layout (a .deb and a .tar.gz, with a desktop entry, its icon and a launcher
# that runs the game in a folder of its own), on Windows one folder (a .zip).
include(GNUInstallDirs)

set(ZIBU_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
# No mailbox has been set up for the project: the address is one that cannot exist.
set(ZIBU_CONTACT "the Zibu developers <zibu@zibu.invalid>")

if(WIN32)
  install(TARGETS zibu zibu_replay RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(DIRECTORY docs/ DESTINATION docs)
else()
  # The game and its menu launcher where Debian puts games (on a user's PATH), the tools with
  # the other programs.
  set(ZIBU_INSTALL_GAMESDIR games CACHE STRING "Where the game goes, under the prefix")
  install(TARGETS zibu RUNTIME DESTINATION ${ZIBU_INSTALL_GAMESDIR})
  install(PROGRAMS ${ZIBU_PACKAGING}/zibu-menu DESTINATION ${ZIBU_INSTALL_GAMESDIR})
  install(TARGETS zibu_replay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(PROGRAMS tools/plot_times.py DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME zibu-plot-times)
  # The desktop entry starts the launcher by its full path, known once the prefix is (CPack's
  # .deb installs into /usr): a desktop session's PATH need not hold the games' folder.
  install(CODE "set(ZIBU_GAMES_PATH \"\${CMAKE_INSTALL_PREFIX}/${ZIBU_INSTALL_GAMESDIR}\")
                configure_file(${ZIBU_PACKAGING}/zibu.desktop.in
                               ${CMAKE_BINARY_DIR}/zibu.desktop @ONLY)")
  install(FILES ${CMAKE_BINARY_DIR}/zibu.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ZIBU_PACKAGING}/zibu.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
  install(FILES README.md ${ZIBU_PACKAGING}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)

  # Debian's changelog, its top entry this very version, dated by the commit when there is one
  # (so that two package builds of one commit are the same), compressed as Debian wants it.
  set(ZIBU_DEB_VERSION ${ZIBU_VERSION_FULL}-1)
  set(ZIBU_CHANGELOG_DATE "Mon, 07 Dec 2026 00:00:00 +0000")
  if(ZIBU_GIT_COMMIT)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%aD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE ZIBU_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  configure_file(${ZIBU_PACKAGING}/changelog.in ${CMAKE_BINARY_DIR}/changelog.Debian @ONLY)
  execute_process(COMMAND gzip -9nc INPUT_FILE ${CMAKE_BINARY_DIR}/changelog.Debian
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# Installing builds nothing first: scripts/package.sh builds only the installed programs, not
# the tests of a preset that has them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME zibu)
set(CPACK_PACKAGE_VENDOR "the Zibu developers")
set(CPACK_PACKAGE_VERSION ${ZIBU_VERSION_FULL})
set(CPACK_PACKAGE_CONTACT ${ZIBU_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "space game that tests a hierarchical scene tree")
set(CPACK_PACKAGE_DESCRIPTION
    "Zibu is a small real-time 3D space game built as a test harness for a\n"
    "scene tree: the ship, asteroids that split when shot, bullets, smoke,\n"
    "explosions and a growing crystal are all nodes of one tree that four\n"
    "passes walk each frame. zibu_replay plays the game from a script, and\n"
    "zibu-plot-times draws its frame times.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_SOURCE_DIR}/build/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zibu-${ZIBU_VERSION_FULL}-windows-x86_64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PACKAGE_FILE_NAME zibu-${ZIBU_VERSION_FULL}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZIBU_CONTACT})
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the binaries link (SDL2, OpenGL) by dpkg-shlibdeps; by hand the GLX library
  # that SDL opens at run time and zibu-plot-times' Python.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1, python3, python3-matplotlib")
endif()

include(CPack)

# Installing clicktrack, and its Debian package (cpack -G DEB in a build
# folder; scripts/package.sh builds the packages for the host, armhf and arm64).
include(GNUInstallDirs)

install(TARGETS clicktrack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The man page and the changelog go in compressed, as Debian has them.
set(clicktrack_gzipped)
foreach(doc clicktrack.1 changelog)
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/doc/${doc})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${doc} ${copy}
    COMMAND gzip -9 -n -f ${copy}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${doc}
    VERBATIM)
  list(APPEND clicktrack_gzipped ${copy}.gz)
endforeach()
add_custom_target(clicktrack_docs ALL DEPENDS ${clicktrack_gzipped})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/clicktrack.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz docs/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES examples/tmap.txt examples/groove.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# Bash completion, where bash-completion loads it when clicktrack is first completed.
install(FILES completion/clicktrack DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CLICKTRACK_MAINTAINER "clicktrack developers <clicktrack@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME clicktrack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console metronome and click-track writer")
set(CPACK_PACKAGE_DESCRIPTION
"clicktrack synthesises a short percussive click, plays it as a running beat
on an ALSA sound device while announcing each measure, or as a JACK client
that follows or leads the JACK transport, and writes click
tracks as one-channel 16- or 24-bit PCM wave files, and from its command
line also as FLAC, Ogg Vorbis or AIFF files, with its own click or the user's
samples. A plain-text tempo map of sections with their own tempo and meter
can be rendered into one file or played section after section. It is driven
by one-word commands at a console menu.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CLICKTRACK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The toolchain files set CPACK_DEBIAN_PACKAGE_ARCHITECTURE; dpkg-shlibdeps
# then needs to know the architecture to read the target's libraries.
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackTarget.cmake)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
       "set(ENV{DEB_HOST_ARCH} ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})\n")
endif()
include(CPack)

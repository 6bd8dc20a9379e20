# What a Linux installation holds besides the tool, and the Debian package of it (CPack).
# `cmake --install` and the .deb install the same files: the tool, the man page, the bash
# completion, and README (with the notes it links, in doc/), copyright file and changelog in the
# documentation folder.

set(ZUL_MAINTAINER "the zul-process authors <zul-process@users.noreply.github.com>"
    CACHE STRING "The Maintainer of the Debian package, \"name <address>\"")

# The Debian copyright file, in the machine-readable format, with the license's terms from
# LICENSE itself.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE zul_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" zul_copyright_line "${zul_license}")
set(zul_copyright_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright[^\n]*\n\n" "" zul_terms "${zul_license}")
string(STRIP "${zul_terms}" zul_terms)
string(REPLACE "\n\n" "\n.\n" zul_terms "${zul_terms}")
string(REPLACE "\n" "\n " zul_terms " ${zul_terms}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/debian/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}
Upstream-Contact: ${ZUL_MAINTAINER}

Files: *
Copyright: ${zul_copyright_holder}
License: Expat

License: Expat
${zul_terms}
" @ONLY)

# A Debian changelog: a package whose version has no Debian revision is a native one, and
# those carry changelog.gz. Its date is the day of the last commit, so that every build of one
# commit gives the same file.
include(${PROJECT_SOURCE_DIR}/cmake/source_date_epoch.cmake)
string(TIMESTAMP zul_changelog_date "%a, %d %b %Y 00:00:00 +0000" UTC)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog CONTENT
"${PROJECT_NAME} (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${ZUL_MAINTAINER}  ${zul_changelog_date}
" @ONLY)
add_custom_command(
  OUTPUT debian/changelog.gz
  COMMAND gzip -9 -n -c debian/changelog > debian/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS debian/changelog.gz)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/debian/copyright
              ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The notes the README links to, where its links lead.
file(GLOB zul_notes CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/doc/*.md)
install(FILES ${zul_notes} DESTINATION ${CMAKE_INSTALL_DOCDIR}/doc)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME zul-process)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zul-process.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME zul-process)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the zul-process authors")
set(CPACK_PACKAGE_CONTACT "${ZUL_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Files and folders as Debian wants them, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZUL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"report CPU time, memory and command lines of processes as JSON
zul-process prints one line of compact JSON about the processes named
by their IDs. Its sample command gives each one's user and kernel CPU
time and its current and peak resident memory; its inspect command
gives the creation time, executable path and command line. A process
that is missing or cannot be read becomes a row with a status and an
error code, never a failed run. Its serve command answers such
requests read from standard input, one a line, from one long-lived
process, with CPU percentage between readings. Meant for scripts,
monitors and test harnesses; the same tool runs on Windows.")
# Linked statically: it depends on nothing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# The completion it installs is loaded by bash-completion, and does nothing without it.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

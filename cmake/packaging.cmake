# What is installed and shipped. The native build installs the program, its
# manual page, the README and a sample configuration file, and packages them
# as a Debian package and as a release archive for other distributions; the
# Windows build packages DAZI.exe, a sample DAZI.env and the README as text in
# a ZIP, both with CR LF line ends. The version is the project's.

set(DAZI_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(CPACK_PACKAGE_VENDOR "DAZI developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upper-case names for an OS image build's output tree")
set(CPACK_STRIP_FILES ON)

# Writes a gzip copy of a file, as Debian packages ship manual pages and
# changelogs: best compression, no name and no time stamp in the header.
function(dazi_gzip input output)
  execute_process(COMMAND gzip -9n -c ${input} OUTPUT_FILE ${output}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress ${input}")
  endif()
endfunction()

if(WIN32)
  # The ZIP holds DAZI.exe, DAZI.env and README.txt, with no folder around
  # them, so that they unpack into whichever folder of tools the user names.
  file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
  string(REPLACE "\r\n" "\n" readme "${readme}")
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${DAZI_PACKAGING_OUT}/README.txt "${readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)

  install(TARGETS dazi RUNTIME DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/sample/dazi.env DESTINATION . RENAME DAZI.env)
  install(FILES ${DAZI_PACKAGING_OUT}/README.txt DESTINATION .)

  set(CPACK_PACKAGE_NAME DAZI)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  set(DAZI_MAINTAINER "DAZI developers <dazi@example.org>"
      CACHE STRING "The Debian package's maintainer, a name and a mail address")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/dazi.1.in ${DAZI_PACKAGING_OUT}/dazi.1 @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${DAZI_PACKAGING_OUT}/changelog @ONLY)
  dazi_gzip(${DAZI_PACKAGING_OUT}/dazi.1 ${DAZI_PACKAGING_OUT}/dazi.1.gz)
  dazi_gzip(${DAZI_PACKAGING_OUT}/changelog ${DAZI_PACKAGING_OUT}/changelog.gz)

  # cmake --install installs the components program and manual; the Debian
  # package takes program and debian, whose files Debian wants compressed or
  # added, and which a plain installation leaves out.
  install(TARGETS dazi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/sample/dazi.env
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
  install(FILES ${DAZI_PACKAGING_OUT}/dazi.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT manual)
  install(FILES ${DAZI_PACKAGING_OUT}/dazi.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${DAZI_PACKAGING_OUT}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

  # The release archive for any Linux distribution on x86-64: one folder with
  # the stripped program, its manual page, the sample configuration file
  # beside the program and the README as README.txt, owned by root, without
  # time stamps of the build (cmake --build --target dazi_archive).
  set(DAZI_ARCHIVE_NAME dazi-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(DAZI_ARCHIVE ${CMAKE_BINARY_DIR}/${DAZI_ARCHIVE_NAME}.tar.gz)
  set(stage ${DAZI_PACKAGING_OUT}/archive/${DAZI_ARCHIVE_NAME})
  add_custom_command(
    OUTPUT ${DAZI_ARCHIVE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    COMMAND ${CMAKE_STRIP} -o ${stage}/dazi $<TARGET_FILE:dazi>
    COMMAND ${CMAKE_COMMAND} -E copy ${DAZI_PACKAGING_OUT}/dazi.1 ${stage}/dazi.1
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/sample/dazi.env ${stage}/dazi.env
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/README.md ${stage}/README.txt
    COMMAND tar --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 --mode=go-w
            -C ${DAZI_PACKAGING_OUT}/archive -cf - ${DAZI_ARCHIVE_NAME} | gzip -9n > ${DAZI_ARCHIVE}
    DEPENDS dazi ${DAZI_PACKAGING_OUT}/dazi.1 ${CMAKE_SOURCE_DIR}/sample/dazi.env
            ${CMAKE_SOURCE_DIR}/README.md
    COMMENT "Making ${DAZI_ARCHIVE_NAME}.tar.gz")
  add_custom_target(dazi_archive DEPENDS ${DAZI_ARCHIVE})

  set(CPACK_PACKAGE_NAME dazi)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL program debian)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # dpkg-shlibdeps finds the libraries the program is linked against; ICU,
  # opened at run time, it cannot see, so its packages are named here: any one
  # of the versions the program looks for, as Debian and Ubuntu name them
  # (libicu72 on Debian 12, libicu74 on Ubuntu 24.04), newest first.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(icu_packages)
  foreach(version RANGE ${DAZI_ICU_NEWEST} ${DAZI_ICU_OLDEST} -1)
    list(APPEND icu_packages libicu${version})
  endforeach()
  list(JOIN icu_packages " | " CPACK_DEBIAN_PACKAGE_DEPENDS)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DAZI_MAINTAINER}")
  # The extended description, below the summary line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "DAZI renames a fixed set of directories and files of an operating-system
image build's output tree (a tree laid out like a Windows installation
source), plus those named in a configuration file beside the program, to
the upper-case form of their paths, printing one line per path.")
endif()

include(CPack)

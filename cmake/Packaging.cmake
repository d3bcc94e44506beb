# What a release installs, and the packages made of it (scripts/package).
# Linux: a Debian package. The paths baked into the launcher, the polkit action
# and the desktop entry are the install prefix's, /usr unless set otherwise.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/brisquel)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# `cpack` and `cmake --install` take what scripts/package built, not the tests too.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(pkg_src ${PROJECT_SOURCE_DIR}/packaging/linux)
set(pkg_out ${CMAKE_BINARY_DIR}/packaging)

# The release date: the last commit's, so a rebuild of one tree gives the same files.
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(commit_time)
  set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
endif()
string(TIMESTAMP BRISQUEL_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP BRISQUEL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(BRISQUEL_VERSION ${PROJECT_VERSION})

set(BRISQUEL_WINDOW ${CMAKE_INSTALL_FULL_BINDIR}/brisquel)
set(BRISQUEL_LAUNCHER ${CMAKE_INSTALL_FULL_LIBEXECDIR}/brisquel/brisquel-launch)
set(BRISQUEL_ROOT_HELPER ${CMAKE_INSTALL_FULL_LIBEXECDIR}/brisquel/brisquel-root)
foreach(file brisquel.desktop org.brisquel.window.policy brisquel-launch brisquel-root)
  configure_file(${pkg_src}/${file}.in ${pkg_out}/${file} @ONLY)
endforeach()

# The copyright file in Debian's machine-readable form, its licence text taken from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) ([^\n]*)\n\n" "" licence_terms "${licence}")
set(holder ${CMAKE_MATCH_1})
if(NOT holder)
  message(FATAL_ERROR "LICENSE does not start with the MIT licence's title and copyright line")
endif()
string(STRIP "${licence_terms}" licence_terms)
string(REPLACE "\n\n" "\n.\n" licence_terms "${licence_terms}")
string(REPLACE "\n" "\n " licence_terms "${licence_terms}")
file(WRITE ${pkg_out}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Brisquel

Files: *
Copyright: ${holder}
License: Expat
 ${licence_terms}
")

# A native package's changelog: one entry for the version being built.
file(WRITE ${pkg_out}/changelog
"brisquel (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- The Brisquel developers <brisquel@users.noreply.example.org>  ${BRISQUEL_CHANGELOG_DATE}
")

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(manpage ${Python3_EXECUTABLE} ${pkg_src}/manpage.py)
add_custom_command(OUTPUT ${pkg_out}/brisquel-cli.1.gz
  COMMAND ${manpage} ${pkg_src}/brisquel-cli.1.in ${pkg_out}/brisquel-cli.1.gz
          ${PROJECT_VERSION} ${BRISQUEL_DATE} $<TARGET_FILE:brisquel-cli>
  DEPENDS brisquel-cli ${pkg_src}/manpage.py ${pkg_src}/brisquel-cli.1.in
  COMMENT "Manual page brisquel-cli(1) from brisquel-cli --help")
add_custom_command(OUTPUT ${pkg_out}/brisquel.1.gz
  COMMAND ${manpage} ${pkg_src}/brisquel.1.in ${pkg_out}/brisquel.1.gz
          ${PROJECT_VERSION} ${BRISQUEL_DATE}
  DEPENDS ${pkg_src}/manpage.py ${pkg_src}/brisquel.1.in
  COMMENT "Manual page brisquel(1)")
add_custom_command(OUTPUT ${pkg_out}/changelog.gz
  COMMAND gzip -9n < ${pkg_out}/changelog > ${pkg_out}/changelog.gz
  DEPENDS ${pkg_out}/changelog)
add_custom_command(OUTPUT ${pkg_out}/icons.stamp
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:brisquel_icon_export> ${pkg_out}/icons
  COMMAND ${CMAKE_COMMAND} -E touch ${pkg_out}/icons.stamp
  DEPENDS brisquel_icon_export
  COMMENT "Application icon in the icon theme's sizes")
add_custom_target(brisquel_package_files ALL DEPENDS
  ${pkg_out}/brisquel-cli.1.gz ${pkg_out}/brisquel.1.gz ${pkg_out}/changelog.gz ${pkg_out}/icons.stamp)

install(TARGETS brisquel brisquel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${pkg_out}/brisquel-launch ${pkg_out}/brisquel-root
        DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/brisquel)
install(FILES ${pkg_out}/brisquel.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(DIRECTORY ${pkg_out}/icons/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor)
install(FILES ${pkg_out}/org.brisquel.window.policy
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/polkit-1/actions)
install(FILES ${pkg_out}/brisquel.1.gz ${pkg_out}/brisquel-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pkg_src}/brisquel-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME brisquel-cli)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${pkg_out}/copyright ${pkg_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bench-files/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# The JSON Schema of each --json document, for the programs that read them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/schemas/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/brisquel/schemas)
# The Ansible collection, where Debian's Ansible looks for collections.
foreach(file README.md CHANGELOG.md galaxy.yml meta/runtime.yml plugins/modules/drive_firmware.py
             plugins/modules/drive_facts.py plugins/module_utils/brisquel_cli.py
             plugins/doc_fragments/brisquel_cli.py)
  get_filename_component(dir ${file} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/ansible/ansible_collections/brisquel/storage/${file}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/ansible/collections/ansible_collections/brisquel/storage/${dir})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brisquel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Brisquel developers")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Brisquel developers <brisquel@users.noreply.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec, bash-completion")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS ansible-core)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "read ATA/SATA drive identity and update drive firmware
Brisquel reads the identity of ATA and SATA drives and updates their firmware:
IDENTIFY DEVICE, the standard DOWNLOAD MICROCODE in five modes, and a vendor
download over SMART logs, through the kernel's ATA and SCSI pass-through or
straight through a controller's task-file ports.
.
The package holds the window (brisquel), started from the desktop menu with
administrator rights asked for through polkit, and the command line
(brisquel-cli). Both run on a simulated bench without any hardware.")
include(CPack)

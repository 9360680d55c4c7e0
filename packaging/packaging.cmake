# Packages: on Linux a Debian package through CPack (cpack -G DEB), on Windows a Windows
# Installer package (target msi: wixl and msibuild, from Debian's wixl and msitools) and, while
# it lasts, the NSIS installer (makensis, from Debian's nsis package, when it is there).

if(NOT WIN32)
  # The unit the package ships: the same text as the one `tempwarden /install` writes.
  add_executable(tw_unit_writer ${CMAKE_SOURCE_DIR}/packaging/unit_writer.cc)
  target_link_libraries(tw_unit_writer PRIVATE tw_install tw_toolbelt)
  set(TW_PACKAGE_UNIT ${CMAKE_BINARY_DIR}/packaging/tempwarden.service)
  set(TW_PACKAGE_TEMPLATE ${CMAKE_BINARY_DIR}/packaging/tempwarden@.service)
  add_custom_command(
    OUTPUT ${TW_PACKAGE_UNIT} ${TW_PACKAGE_TEMPLATE} ${CMAKE_BINARY_DIR}/packaging/TEMPWARDEN.XML
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND tw_unit_writer ${CMAKE_BINARY_DIR}/packaging
    DEPENDS tw_unit_writer
    COMMENT "systemd units and default settings of the package")
  add_custom_target(tw_package_unit ALL DEPENDS ${TW_PACKAGE_UNIT})

  # The package's program is stripped (CPACK_STRIP_FILES); its debug information stays in
  # tempwarden.debug beside the build's program, for crash analysis. gdb finds it by the
  # program's build id (DIR/.build-id/xx/yyyy.debug in its debug-file-directory), or by the
  # debug link beside the program or in /usr/lib/debug/usr/sbin.
  set(TW_DEBUG_FILE ${CMAKE_BINARY_DIR}/tempwarden.debug)
  add_custom_command(TARGET tempwarden POST_BUILD
                     COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:tempwarden>
                             ${TW_DEBUG_FILE})

  # The program where only root may write it; settings in /etc, data in /var/lib (the units'
  # StateDirectory=). The settings file is a conffile that postinst gives root:tempwarden 0640.
  install(TARGETS tempwarden DESTINATION usr/sbin)
  # The compilers' version strings (.comment) serve no one on the installed system.
  install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
                --add-gnu-debuglink=${TW_DEBUG_FILE}
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/sbin/tempwarden\"
                COMMAND_ERROR_IS_FATAL ANY)")
  install(FILES ${TW_PACKAGE_UNIT} ${TW_PACKAGE_TEMPLATE} DESTINATION usr/lib/systemd/system)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/TEMPWARDEN.XML DESTINATION etc/tempwarden
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)

  # Manual pages and the changelog go in gzipped as Debian wants them: -9, and -n so that the
  # same sources give the same bytes (no name, no time stamp).
  set(TW_GZIPPED)
  foreach(pair "docs/man/tempwarden.8;man/tempwarden.8.gz"
               "docs/man/tempwarden.xml.5;man/tempwarden.xml.5.gz"
               "packaging/deb/changelog;changelog.gz")
    list(GET pair 0 source)
    list(GET pair 1 gzipped)
    set(gzipped ${CMAKE_BINARY_DIR}/packaging/${gzipped})
    string(REGEX REPLACE "\\.gz$" "" plain ${gzipped})
    add_custom_command(
      OUTPUT ${gzipped}
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/${source} ${plain}
      COMMAND gzip -9nf ${plain}
      DEPENDS ${CMAKE_SOURCE_DIR}/${source})
    list(APPEND TW_GZIPPED ${gzipped})
  endforeach()
  add_custom_target(tw_package_docs ALL DEPENDS ${TW_GZIPPED})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/man/tempwarden.8.gz DESTINATION usr/share/man/man8)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/man/tempwarden.xml.5.gz
          DESTINATION usr/share/man/man5)
  # A native package (no Debian revision in the version): its changelog is changelog.gz.
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                ${CMAKE_SOURCE_DIR}/packaging/deb/copyright DESTINATION usr/share/doc/tempwarden)
  # Lintian's overrides, each with its reason.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/deb/lintian-overrides
          DESTINATION usr/share/lintian/overrides RENAME tempwarden)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME tempwarden)
  set(CPACK_PACKAGE_VENDOR Brindle)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "UPS temperature watch service")
  # CPack puts the summary first and indents these lines as the control file wants them.
  # Lines of at most 79 characters: with the leading blank, within Debian's 80.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tempwarden watches one UPS through its SNMP network card (temperature and
input voltage), keeps a temperature history in CSV files with HTML chart
pages, sends alert mail, announces events as syslog datagrams and keeps an
activity log.

It runs as the systemd service tempwarden (alias VOZIvazure) under the system
user tempwarden, reads /etc/tempwarden/TEMPWARDEN.XML and keeps its history in
/var/lib/tempwarden. Further UPSes: tempwarden@NAME.service with
/etc/tempwarden/NAME/TEMPWARDEN.XML and /var/lib/tempwarden/NAME.")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brindle Tempwarden team <tempwarden@brindle.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # useradd comes from passwd, deb-systemd-helper from init-system-helpers; the libraries' packages come from dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, init-system-helpers (>= 1.50)")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/deb/conffiles
    ${CMAKE_SOURCE_DIR}/packaging/deb/preinst
    ${CMAKE_SOURCE_DIR}/packaging/deb/postinst
    ${CMAKE_SOURCE_DIR}/packaging/deb/prerm
    ${CMAKE_SOURCE_DIR}/packaging/deb/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
  set(CPACK_STRIP_FILES TRUE)
  include(CPack)
endif()

if(WIN32)
  # tempwarden-VERSION-x64.msi; signed when TW_SIGN_PKCS12 and TW_SIGN_PASSWORD name a
  # code-signing certificate in the environment of the build (packaging/make_msi.sh).
  find_program(TW_WIXL wixl)
  find_program(TW_MSIBUILD msibuild)
  if(TW_WIXL AND TW_MSIBUILD)
    set(TW_MSI ${CMAKE_BINARY_DIR}/tempwarden-${PROJECT_VERSION}-x64.msi)
    add_custom_command(
      OUTPUT ${TW_MSI}
      COMMAND sh ${CMAKE_SOURCE_DIR}/packaging/make_msi.sh ${CMAKE_SOURCE_DIR}
              $<TARGET_FILE:tempwarden> ${PROJECT_VERSION} ${TW_MSI}
              $<TARGET_FILE:tw_msi_action>
      DEPENDS tempwarden tw_msi_action ${CMAKE_SOURCE_DIR}/packaging/tempwarden.wxs
              ${CMAKE_SOURCE_DIR}/packaging/make_msi.sh
      COMMENT "Windows Installer package")
    add_custom_target(msi DEPENDS ${TW_MSI})
  else()
    message(WARNING "wixl or msibuild not found (Debian packages wixl, msitools): no msi target")
  endif()

  find_program(TW_MAKENSIS makensis)
  if(TW_MAKENSIS)
    set(TW_INSTALLER ${CMAKE_BINARY_DIR}/tempwarden-setup.exe)
    add_custom_command(
      OUTPUT ${TW_INSTALLER}
      COMMAND ${TW_MAKENSIS} -V2 -DEXE=$<TARGET_FILE:tempwarden> -DVERSION=${PROJECT_VERSION}
              -DOUTFILE=${TW_INSTALLER} ${CMAKE_SOURCE_DIR}/packaging/tempwarden.nsi
      DEPENDS tempwarden ${CMAKE_SOURCE_DIR}/packaging/tempwarden.nsi
      COMMENT "NSIS installer")
    add_custom_target(tw_installer ALL DEPENDS ${TW_INSTALLER})
  else()
    message(WARNING "makensis not found (Debian package nsis): no installer is built")
  endif()
endif()

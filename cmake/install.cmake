# Installing and packaging: the files beside the programs and the library
# (help page, desktop entry, icons, manual pages, kivra.pc) and the .deb made
# by CPack. The programs and the library install themselves in their own
# folders, with a run path relative to the program ($ORIGIN/../LIBDIR), so an
# installed tree works under any prefix.
set(TAVREL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

if(TAVREL_GUI)
  # F1 looks for it beside the program, then in ../share/tavrelcut.
  install(FILES ${PROJECT_SOURCE_DIR}/app/help.html DESTINATION ${CMAKE_INSTALL_DATADIR}/tavrelcut)
  install(FILES ${TAVREL_PACKAGING_DIR}/tavrelcut.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${TAVREL_PACKAGING_DIR}/icons/tavrelcut.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${TAVREL_PACKAGING_DIR}/icons/tavrelcut-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tavrelcut.png)
  endforeach()
endif()

# Manual pages, made by help2man from the built programs' --help and
# --version (and, for tavrelcut-cli, each command's --help), so they say what
# the programs say.
find_program(TAVREL_HELP2MAN help2man)
find_program(TAVREL_GZIP gzip)
if(TAVREL_HELP2MAN AND TAVREL_GZIP)
  set(man_dir ${PROJECT_BINARY_DIR}/man)
  set(man_pages)
  set(man_common --no-info --section=1 --source=Tavrel\ Cutter\ ${PROJECT_VERSION})
  file(MAKE_DIRECTORY ${man_dir})
  add_custom_command(OUTPUT ${man_dir}/tavrelcut-cli.1.gz
    COMMAND sh ${TAVREL_PACKAGING_DIR}/man/cli-commands.sh $<TARGET_FILE:tavrelcut-cli>
            ${man_dir}/tavrelcut-cli-commands.h2m
    COMMAND ${CMAKE_COMMAND} -E env TAVREL_MAN_PROGRAM=$<TARGET_FILE:tavrelcut-cli>
            ${TAVREL_HELP2MAN} ${man_common}
            "--name=cut MPEG-2 transport stream recordings at GOP boundaries (command line)"
            --include=${TAVREL_PACKAGING_DIR}/man/tavrelcut-cli.h2m
            --include=${man_dir}/tavrelcut-cli-commands.h2m
            --output=${man_dir}/tavrelcut-cli.1
            ${TAVREL_PACKAGING_DIR}/man/help2man-run.sh
    COMMAND ${TAVREL_GZIP} -9nf ${man_dir}/tavrelcut-cli.1
    DEPENDS tavrelcut-cli
            ${TAVREL_PACKAGING_DIR}/man/cli-commands.sh
            ${TAVREL_PACKAGING_DIR}/man/help2man-run.sh
            ${TAVREL_PACKAGING_DIR}/man/tavrelcut-cli.h2m
    COMMENT "Manual page of tavrelcut-cli"
    VERBATIM)
  list(APPEND man_pages ${man_dir}/tavrelcut-cli.1.gz)
  if(TAVREL_GUI)
    # A Qt program: it needs a platform to print its help, offscreen will do.
    add_custom_command(OUTPUT ${man_dir}/tavrelcut.1.gz
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen TAVREL_MAN_PROGRAM=$<TARGET_FILE:tavrelcut>
              ${TAVREL_HELP2MAN} ${man_common}
              "--name=cut MPEG-2 transport stream recordings at GOP boundaries (desktop program)"
              --include=${TAVREL_PACKAGING_DIR}/man/tavrelcut.h2m
              --output=${man_dir}/tavrelcut.1
              ${TAVREL_PACKAGING_DIR}/man/help2man-run.sh
      COMMAND ${TAVREL_GZIP} -9nf ${man_dir}/tavrelcut.1
      DEPENDS tavrelcut
              ${TAVREL_PACKAGING_DIR}/man/help2man-run.sh
              ${TAVREL_PACKAGING_DIR}/man/tavrelcut.h2m
      COMMENT "Manual page of tavrelcut"
      VERBATIM)
    list(APPEND man_pages ${man_dir}/tavrelcut.1.gz)
  endif()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man or gzip not found: the manual pages are neither built nor installed "
                  "(scripts/deps.sh installs help2man)")
endif()

# kivra.pc. Its prefix is the one in force when installing (cmake --install
# --prefix, or the package's /usr under cpack), so it is written then.
get_target_property(kivra_version kivra VERSION)
install(CODE "
  set(_kivra_pc_in \"${TAVREL_PACKAGING_DIR}/kivra.pc.in\")
  set(_kivra_pc_out \"${PROJECT_BINARY_DIR}/packaging/kivra.pc\")
  set(_kivra_pc_libdir \"${CMAKE_INSTALL_LIBDIR}\")
  set(_kivra_pc_includedir \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(KIVRA_PC_VERSION \"${kivra_version}\")")
install(CODE [[
  set(KIVRA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  foreach(dir LIBDIR INCLUDEDIR)
    string(TOLOWER "${dir}" d)
    if(IS_ABSOLUTE "${_kivra_pc_${d}}")
      set(KIVRA_PC_${dir} "${_kivra_pc_${d}}")
    else()
      set(KIVRA_PC_${dir} "\${prefix}/${_kivra_pc_${d}}")
    endif()
  endforeach()
  configure_file("${_kivra_pc_in}" "${_kivra_pc_out}" @ONLY)
]])
install(FILES ${PROJECT_BINARY_DIR}/packaging/kivra.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# cpack -G DEB: one package, tavrelcut, with the programs, the library, its
# header and kivra.pc. dpkg-shlibdeps works out the run-time dependencies
# (Qt 6, libc, ...) from the installed programs.
set(TAVREL_PACKAGE_MAINTAINER "Tavrel Cutter maintainers <maintainers@tavrelcut.invalid>"
    CACHE STRING "Maintainer field of the .deb")
set(CPACK_PACKAGE_NAME tavrelcut)
set(CPACK_PACKAGE_VENDOR "Tavrel Cutter")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TAVREL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MPEG-2 transport stream cutter")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavrel Cutter cuts MPEG-2 transport stream recordings at GOP boundaries
without re-encoding. tavrelcut is the desktop program (Qt 6, Japanese user
interface), tavrelcut-cli the command-line tool; libkivra is their preview
decoder.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TAVREL_GUI)
  # The user interface is in Japanese.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk")
endif()
include(CPack)

# Installing: the files beside the programs and the library. The programs and
# the library install themselves in their own folders, with a run path
# relative to the program ($ORIGIN/../LIBDIR), so an installed tree works
# under any prefix.
if(TARGET tavrelcut)
  # F1 looks for it beside the program, then in ../share/tavrelcut.
  install(FILES ${PROJECT_SOURCE_DIR}/app/help.html DESTINATION ${CMAKE_INSTALL_DATADIR}/tavrelcut)
endif()

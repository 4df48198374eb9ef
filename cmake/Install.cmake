# The install step: `cmake --install <build folder> --prefix <prefix>` places Brevanta's
# programs, its icon and UninstallInfo.txt, the list of exactly the files installed,
# into the installation folder <prefix>/lib/quennick/brevanta. Nothing is installed
# outside that folder, so the program's own uninstall removes everything it installed.
# (The menu entries are written by the program at every start and removed by its
# uninstall.)

set(QN_INSTALL_DIR lib/quennick/brevanta)

set(_qn_programs brevanta quennick-suite)
if(TARGET quennick)
  list(APPEND _qn_programs quennick)
endif()
install(TARGETS ${_qn_programs} RUNTIME DESTINATION ${QN_INSTALL_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/src/ui/resources/icons/MainIcon-256.png
        DESTINATION ${QN_INSTALL_DIR} RENAME brevanta.png)

set(_qn_installed ${_qn_programs} brevanta.png UninstallInfo.txt)
list(JOIN _qn_installed "\n" _qn_lines)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/UninstallInfo.txt CONTENT "[Files]\n${_qn_lines}\n")
install(FILES ${CMAKE_BINARY_DIR}/UninstallInfo.txt DESTINATION ${QN_INSTALL_DIR})

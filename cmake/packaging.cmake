# Install rules and the release packages.
#
#   cpack --preset windows   build/windows/sensor-bridge-<version>-win64.zip
#   cpack --preset default   build/default/sensor-bridge-<version>-Linux.tar.gz
#
# The program takes HWiNFO64.dll from its own folder first, so the programs
# and the library land in one folder: the top of the Windows package, bin/ in
# the Linux one. Windows users put the vendor's library there themselves; the
# Linux package carries the libsensors-backed one under that name.
if(WIN32)
  set(program_destination .)
else()
  set(program_destination bin)
endif()
install(TARGETS sensor-bridge sensor-watch RUNTIME DESTINATION ${program_destination})
if(TARGET hwmonsensors)
  install(TARGETS hwmonsensors LIBRARY DESTINATION ${program_destination})
endif()
install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
if(WIN32)
  # The Task Scheduler definition that starts the program at logon (README),
  # with Windows line ends and, where iconv is there to convert it, in UTF-16
  # like the definitions that Task Scheduler exports itself.
  set(task ${CMAKE_BINARY_DIR}/packaging/sensor-bridge-task.xml)
  find_program(ICONV iconv)
  if(ICONV)
    set(task_encoding UTF-16)
    set(task_utf8 ${CMAKE_BINARY_DIR}/packaging/sensor-bridge-task-utf8.xml)
    configure_file(packaging/sensor-bridge-task.xml ${task_utf8} @ONLY NEWLINE_STYLE CRLF)
    add_custom_command(OUTPUT ${task} COMMAND ${ICONV} -f UTF-8 -t UTF-16 -o ${task} ${task_utf8}
                       DEPENDS ${task_utf8})
  else()
    set(task_encoding UTF-8)
    configure_file(packaging/sensor-bridge-task.xml ${task} @ONLY NEWLINE_STYLE CRLF)
  endif()
  add_custom_target(task_definition ALL DEPENDS ${task})
  install(FILES ${task} DESTINATION .)
endif()
# Last: the checksums of everything installed above.
install(SCRIPT cmake/write_checksums.cmake)

set(CPACK_PACKAGE_NAME sensor-bridge)
set(CPACK_PACKAGE_VENDOR "the sensor-bridge authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Publishes HWiNFO sensor readings as JSON in a named shared-memory block")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
endif()
# Debug information stays in the build tree; the package gets stripped programs.
set(CPACK_STRIP_FILES ON)
# sensor-bridge-<version>-<system>.<extension>.sha256 beside the package, for
# checking the download.
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)

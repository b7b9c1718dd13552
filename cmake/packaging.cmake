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
  set(CPACK_GENERATOR ZIP)
else()
  set(program_destination bin)
  set(CPACK_GENERATOR TGZ)
endif()
install(TARGETS sensor-bridge sensor-watch RUNTIME DESTINATION ${program_destination})
if(TARGET hwmonsensors)
  install(TARGETS hwmonsensors LIBRARY DESTINATION ${program_destination})
endif()
install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
# The Grafana dashboard for the metrics of sensor-watch --serve.
install(FILES dashboards/sensor-bridge.json DESTINATION dashboards)
if(WIN32)
  # The logon launcher, and the operator's guide that the README links to.
  install(TARGETS sensor-bridge-launcher RUNTIME DESTINATION .)
  install(FILES docs/windows.md DESTINATION docs)
  # Signed when a certificate is given (see the script), before the checksums.
  install(SCRIPT cmake/sign_programs.cmake)
endif()
# Last: the checksums of everything installed above.
install(SCRIPT cmake/write_checksums.cmake)

set(CPACK_PACKAGE_NAME sensor-bridge)
set(CPACK_PACKAGE_VENDOR "the sensor-bridge authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Publishes HWiNFO sensor readings as JSON in a named shared-memory block")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
# Debug information stays in the build tree; the package gets stripped programs.
set(CPACK_STRIP_FILES ON)
# sensor-bridge-<version>-<system>.<extension>.sha256 beside the package, for
# checking the download.
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)

# Runs at install time, after the programs are in place and before the
# checksums are written: signs every installed .exe with Authenticode, using
# osslsigncode, so that SHA256SUMS and the package's checksum describe the
# signed files. Antivirus heuristics and SmartScreen treat unsigned programs
# built with mingw-w64 with suspicion; a signature says who made them.
#
#   SENSOR_BRIDGE_SIGN_PKCS12     the PKCS#12 file (.p12, .pfx) with the certificate and its key
#   SENSOR_BRIDGE_SIGN_PASSWORD   its password
#   SENSOR_BRIDGE_SIGN_TIMESTAMP  an RFC 3161 time-stamping server's address (optional), so that
#                                 the signature stays valid after the certificate expires
#
# Without a PKCS#12 file the programs stay unsigned, and the install says so.
set(pkcs12 "$ENV{SENSOR_BRIDGE_SIGN_PKCS12}")
set(programs "")
foreach(installed IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  if(installed MATCHES "\\.exe$")
    list(APPEND programs "${installed}")
  endif()
endforeach()
if(NOT programs)
  return()
endif()
if(pkcs12 STREQUAL "")
  message(STATUS "Not signing the programs: SENSOR_BRIDGE_SIGN_PKCS12 names no certificate")
  return()
endif()
find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "Signing needs osslsigncode (Debian's osslsigncode)")
endif()

# The password goes to osslsigncode in a file in a folder that only this user
# may enter, so that it never shows on a command line.
set(private "${CMAKE_CURRENT_BINARY_DIR}/signing-private")
file(REMOVE_RECURSE "${private}")
file(MAKE_DIRECTORY "${private}")
file(CHMOD "${private}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(WRITE "${private}/password" "$ENV{SENSOR_BRIDGE_SIGN_PASSWORD}")
set(timestamp "")
if(NOT "$ENV{SENSOR_BRIDGE_SIGN_TIMESTAMP}" STREQUAL "")
  set(timestamp -ts "$ENV{SENSOR_BRIDGE_SIGN_TIMESTAMP}")
endif()
foreach(program IN LISTS programs)
  message(STATUS "Signing: ${program}")
  execute_process(
    COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${pkcs12}" -readpass "${private}/password" -h sha256
            -n sensor-bridge ${timestamp} -in "${program}" -out "${program}.signed"
    RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_VARIABLE said)
  if(NOT status EQUAL 0)
    file(REMOVE_RECURSE "${private}")
    message(FATAL_ERROR "osslsigncode could not sign ${program}: ${said}")
  endif()
  file(RENAME "${program}.signed" "${program}")
endforeach()
file(REMOVE_RECURSE "${private}")

# Runs at install time, after the files are in place: writes SHA256SUMS, the
# SHA-256 of every file installed so far, in the format of `sha256sum -c`
# (PowerShell's Get-FileHash prints the same digests in upper case).
set(checksums_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(checksums "")
foreach(installed IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  file(SHA256 ${installed} digest)
  file(RELATIVE_PATH name ${checksums_root} ${installed})
  string(APPEND checksums "${digest}  ${name}\n")
endforeach()
message(STATUS "Installing: ${checksums_root}/SHA256SUMS")
file(WRITE ${checksums_root}/SHA256SUMS "${checksums}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES ${checksums_root}/SHA256SUMS)

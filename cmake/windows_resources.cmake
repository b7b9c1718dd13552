# The Windows programs carry a version resource (what Explorer's Details tab
# and signing tools show) and an application manifest: run as the user who
# starts them, never elevated, on every Windows from 7 to 11 without the
# compatibility layer. Compiled by the resource compiler: windres with
# mingw-w64, rc with MSVC.
if(WIN32)
  enable_language(RC)
endif()

# Gives the program target its version resource and manifest; nothing
# elsewhere than on Windows.
function(add_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(file_name ${target}.exe)
  set(manifest ${PROJECT_SOURCE_DIR}/cmake/application.manifest)
  if(MSVC)
    # The MSVC linker writes a manifest of its own and merges this one in.
    set(manifest_resource "")
    target_sources(${target} PRIVATE ${manifest})
  else()
    # 1 is the manifest that a program's process takes; 24 is the manifest resource type.
    set(manifest_resource "1 24 \"${manifest}\"")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${manifest})
endfunction()

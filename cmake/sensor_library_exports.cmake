# The seven entries of the vendor's HWiNFO64.dll by ordinal, as
# sensors/sensor_library.h binds them and tools/vendor_library.h declares them.
# The stand-in libraries export them from this one list.
set(SENSOR_LIBRARY_ORDINALS 481 360 994 256 318 802 714)

# Makes the MODULE target a HWiNFO64.dll in directory that exports exactly the
# given ordinals, as ordinal_N: on Windows by ordinal only, through a
# module-definition file, and elsewhere through a linker version script that
# hides every other symbol. Both are generated into the build tree.
function(add_sensor_library_exports target directory)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME HWiNFO64 PREFIX "" SUFFIX ".dll"
                                             LIBRARY_OUTPUT_DIRECTORY ${directory})
  set(definitions "")
  set(global "")
  foreach(ordinal IN LISTS ARGN)
    string(APPEND definitions "  ordinal_${ordinal} @${ordinal} NONAME\n")
    string(APPEND global "  ordinal_${ordinal};\n")
  endforeach()
  if(WIN32)
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    file(CONFIGURE OUTPUT ${def} CONTENT "LIBRARY HWiNFO64\nEXPORTS\n${definitions}")
    target_sources(${target} PRIVATE ${def})
    # An empty export list would make the linker export every symbol instead.
    if(MINGW)
      target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols)
    endif()
  else()
    if(global)
      set(global "global:\n${global}")
    endif()
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    file(CONFIGURE OUTPUT ${script} CONTENT "{\n${global}local: *;\n};\n")
    target_link_options(${target} PRIVATE -Wl,--version-script=${script})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
  endif()
endfunction()

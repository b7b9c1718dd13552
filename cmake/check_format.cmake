# Fails when a C++ source of the project is not laid out as .clang-format
# says, and names the file. CTest runs it:
#   cmake -DCLANG_FORMAT=... -DSOURCE_DIR=... -P cmake/check_format.cmake
# clang-format -i FILE lays a file out again.
if(NOT CLANG_FORMAT)
  message(FATAL_ERROR "[  SKIPPED ] clang-format is not installed (Debian's clang-format)")
endif()
# Every folder but the build trees, which hold other projects' sources.
file(GLOB tops LIST_DIRECTORIES true RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
list(REMOVE_ITEM tops build)
set(files "")
foreach(top IN LISTS tops)
  if(IS_DIRECTORY "${SOURCE_DIR}/${top}")
    file(GLOB_RECURSE found RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${top}/*.cpp" "${SOURCE_DIR}/${top}/*.h")
    list(APPEND files ${found})
  endif()
endforeach()
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${files} WORKING_DIRECTORY "${SOURCE_DIR}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the files above differ from .clang-format's layout")
endif()
list(LENGTH files count)
message(STATUS "${count} files as .clang-format lays them out")

# Fails when a C++ source of the project is not laid out as .clang-format
# says, or when the product includes a stand-in from tools/, and names the
# file. CTest runs it:
#   cmake -DCLANG_FORMAT=... -DSOURCE_DIR=... -P cmake/check_format.cmake
# clang-format -i FILE lays a file out again.

# What ships never includes tools/, so that pruning a stand-in cannot break a
# release. The product's tests, benchmarks and fuzz targets may. This check
# needs no tool, and runs before the layout's.
set(product_files "")
foreach(folder app sensors publish platform watch launcher)
  file(GLOB_RECURSE found RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.h")
  list(FILTER found EXCLUDE REGEX "/(tests|bench|fuzz)/")
  list(APPEND product_files ${found})
endforeach()
set(includers "")
foreach(file IN LISTS product_files)
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]tools/")
  if(lines)
    list(APPEND includers ${file})
  endif()
endforeach()
if(includers)
  list(JOIN includers "\n  " includers)
  message(FATAL_ERROR "the product includes the stand-ins in tools/:\n  ${includers}")
endif()

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

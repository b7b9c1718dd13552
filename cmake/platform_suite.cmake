# Discovers a suite of target's tests twice: the cases named *Native, which run
# the native programs, and those named *Wine, which run the Windows build
# under Wine and so carry the label wine (the sanitizer run leaves them out)
# and report themselves skipped where Wine or the Windows build is missing.
# Both halves start whole processes over the one named block, so they run
# alone. WINE_FILTER narrows the Wine half (default "*Wine");
# NATIVE_PROPERTIES are further test properties of the native half.
function(add_platform_suite target)
  cmake_parse_arguments(PARSE_ARGV 1 suite "" "WINE_FILTER" "NATIVE_PROPERTIES")
  if(NOT suite_WINE_FILTER)
    set(suite_WINE_FILTER "*Wine")
  endif()
  gtest_discover_tests(${target} TEST_FILTER "*Native" NO_PRETTY_VALUES
    PROPERTIES RUN_SERIAL TRUE RESOURCE_LOCK shared_block ${suite_NATIVE_PROPERTIES})
  gtest_discover_tests(${target} TEST_FILTER "${suite_WINE_FILTER}" NO_PRETTY_VALUES
    PROPERTIES LABELS wine RUN_SERIAL TRUE RESOURCE_LOCK shared_block ${MISSING_TOOL} DISCOVERY_TIMEOUT 60)
endfunction()

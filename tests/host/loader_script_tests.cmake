# Tests of the script engine and the plug-in loader. Included from this folder's CMakeLists.txt;
# the loader tests load the small test modules of tests/modules.
if(NOT TARGET tm_filter)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/../modules ${CMAKE_CURRENT_BINARY_DIR}/modules)
endif()

add_executable(host_script_tests ${CMAKE_CURRENT_LIST_DIR}/test_script.cpp)
target_link_libraries(host_script_tests PRIVATE torvel_test_support poly_torvel_filer_names GTest::gtest_main
                                                torvel_warnings)
gtest_discover_tests(host_script_tests TEST_PREFIX "host.")

add_executable(host_loader_tests ${CMAKE_CURRENT_LIST_DIR}/test_loader.cpp)
target_link_libraries(host_loader_tests PRIVATE torvel_test_support poly_torvel_filer_names GTest::gtest_main
                                                torvel_warnings)
target_compile_definitions(host_loader_tests PRIVATE
  TM_FILTER="$<TARGET_FILE:tm_filter>"
  TM_SECOND="$<TARGET_FILE:tm_second>"
  TM_NOENTRY="$<TARGET_FILE:tm_noentry>"
  TM_FAILING="$<TARGET_FILE:tm_failing>"
  TM_NOT_A_LIBRARY="$<TARGET_FILE_DIR:tm_filter>/not_a_library.so")
add_dependencies(host_loader_tests tm_filter tm_second tm_noentry tm_failing)
gtest_discover_tests(host_loader_tests TEST_PREFIX "host.")

# add_present_subdirectories(dir...): adds each listed folder that has a CMakeLists.txt.
function(add_present_subdirectories)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# add_child_subdirectories(): adds every direct child folder that has a CMakeLists.txt,
# so that a new subsystem folder joins the build without touching its parent.
function(add_child_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# quellan_test(NAME SOURCES a.cpp... LIBS lib... [LABEL l] [RESOURCE_LOCK r] [TIMEOUT s])
# Builds one GoogleTest program and registers each of its tests with CTest. Test discovery
# passes properties on as a flat list, so each property takes a single value; the build and
# source folders reach the tests as compile definitions and as $QUELLAN_BUILD_DIR.
function(quellan_test name)
  cmake_parse_arguments(T "" "TIMEOUT;LABEL;LABELS;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  if(T_LABELS)
    set(T_LABEL ${T_LABELS})
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock
                                        Threads::Threads)
  target_compile_definitions(${name} PRIVATE QUELLAN_BUILD_DIR="${CMAKE_BINARY_DIR}"
                                             QUELLAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QUELLAN_BUILD_DIR=${CMAKE_BINARY_DIR}")
  if(T_LABEL)
    list(APPEND props LABELS ${T_LABEL})
  endif()
  if(T_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()

# add_present_subdirectories(dir...): adds each listed folder that has a CMakeLists.txt and
# says which ones it leaves out.
function(add_present_subdirectories)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    else()
      message(STATUS "Skipping ${dir}/: it has no CMakeLists.txt yet")
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
    elseif(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child})
      file(GLOB sources ${CMAKE_CURRENT_SOURCE_DIR}/${child}/*.cpp)
      if(sources)
        message(STATUS "Skipping ${child}/ under ${CMAKE_CURRENT_SOURCE_DIR}: "
                       "it holds sources but no CMakeLists.txt")
      endif()
    endif()
  endforeach()
endfunction()

# quellan_headers(target folder...): states which headers a target and its users may include.
# Sources include headers by their path from the top of the tree ("drive/storage/QLVMirror.h"),
# but no target gets the top of the tree as an include folder. Instead each source folder named
# here gets its own include root in the build tree that holds nothing but one symbolic link at
# the folder's own path: build/include/drive_storage/drive/storage -> <source>/drive/storage.
# A target sees that root (PUBLIC for libraries, INTERFACE for header-only ones, PRIVATE for
# programs), and so do targets that link it, through CMake's usual propagation. Including a
# header of a library one does not link then fails with "file not found". A link rather than a
# copy keeps edited headers current without a build step; libraries sharing a folder share its
# root, and a folder's subfolders come with it.
function(quellan_headers target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  elseif(type STREQUAL "EXECUTABLE")
    set(scope PRIVATE)
  else()
    set(scope PUBLIC)
  endif()
  foreach(folder ${ARGN})
    if(NOT IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${folder})
      message(FATAL_ERROR "quellan_headers(${target}): no folder ${folder}")
    endif()
    string(REPLACE "/" "_" root_name ${folder})
    set(root ${CMAKE_BINARY_DIR}/include/${root_name})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    target_include_directories(${target} ${scope} ${root})
  endforeach()
endfunction()

# Precompiled headers pay in the clang build. In GCC 12's optimised build they saved little and
# made it report a string overflow that is not there, so only clang builds use them.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(QUELLAN_PRECOMPILE ON)
else()
  set(QUELLAN_PRECOMPILE OFF)
endif()

# quellan_test_flags(target): what every test program is compiled with. A precompiled header
# is only taken with the flags it was built with, so test_pch gets the same: the build and
# source folders as definitions and, where it is used, position-independent code, which Qt's
# tests need anyway.
function(quellan_test_flags target)
  target_compile_definitions(${target} PRIVATE QUELLAN_BUILD_DIR="${CMAKE_BINARY_DIR}"
                                               QUELLAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(QUELLAN_PRECOMPILE)
    target_compile_options(${target} PRIVATE -fPIC)
  endif()
endfunction()

# quellan_test(NAME SOURCES a.cpp... LIBS lib... [LABEL l] [TIMEOUT s] [SERIAL])
# Builds one GoogleTest program and registers each of its tests with CTest. Test discovery
# passes properties on as a flat list, so each property takes a single value; the build and
# source folders reach the tests as compile definitions and as $QUELLAN_BUILD_DIR. SERIAL
# runs each of the program's tests with no other test beside it: for tests that count what
# happens on an emulated link in the time a busy processor stretches.
function(quellan_test name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT;LABEL;LABELS" "SOURCES;LIBS" ${ARGN})
  if(T_LABELS)
    set(T_LABEL ${T_LABELS})
  endif()
  add_executable(${name} ${T_SOURCES})
  # A test sees the headers of its own folder and of what it links.
  file(RELATIVE_PATH own_folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  quellan_headers(${name} ${own_folder})
  # Every test may use the shared test support (temporary folders, files, waiting, fixtures).
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest GTest::gtest_main
                                        GTest::gmock
                                        Threads::Threads)
  quellan_test_flags(${name})
  if(TARGET test_pch)
    target_precompile_headers(${name} REUSE_FROM test_pch)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QUELLAN_BUILD_DIR=${CMAKE_BINARY_DIR}")
  if(T_LABEL)
    list(APPEND props LABELS ${T_LABEL})
  endif()
  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()

# quellan_qt_precompiled_headers(): gives every library made in the child folders of the
# calling folder that links Qt a precompiled header of the Qt headers most of them include.
# Libraries free of Qt are left alone, so they stay free of it.
function(quellan_qt_precompiled_headers)
  if(NOT QUELLAN_PRECOMPILE)
    return()
  endif()
  get_directory_property(children SUBDIRECTORIES)
  foreach(child ${children})
    get_directory_property(targets DIRECTORY ${child} BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      get_target_property(links ${target} LINK_LIBRARIES)
      if(type STREQUAL "STATIC_LIBRARY" AND "${links}" MATCHES "Qt5::")
        target_precompile_headers(${target} PRIVATE <QDir> <QFile> <QFileInfo> <QObject>
                                  <QString>)
      endif()
    endforeach()
  endforeach()
endfunction()

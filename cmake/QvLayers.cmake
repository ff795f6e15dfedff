# The .cpp and .h files of each folder named (below root), without their subfolders': a folder
# belongs to one target, and a subfolder is named where it belongs. Adding a file to a folder
# needs no CMake change.
function(qv_folder_sources out root)
  set(sources)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS "${root}/${dir}/*.cpp" "${root}/${dir}/*.h")
    list(APPEND sources ${found})
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# One static library per layer, made of the sources of the folders it names.
function(qv_layer_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;LINKS" ${ARGN})
  qv_folder_sources(sources "${CMAKE_SOURCE_DIR}" ${ARG_DIRS})
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
endfunction()

# A library of headers only (control IDs): its include path and nothing else.
function(qv_header_library name)
  add_library(${name} INTERFACE)
  target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}")
endfunction()

# One GoogleTest executable per source layer, made of the test folders it names, registered
# with CTest case by case, each case labelled with the suite's name. GUI suites run offscreen
# under a QApplication. SANITIZE: CI runs the suite under the address and thread sanitizers too;
# the list of such suites is written to <build>/sanitizer_suites.txt, one name a line.
function(qv_test_suite name)
  cmake_parse_arguments(ARG "GUI;SANITIZE" "" "DIRS;LINKS" ${ARGN})
  qv_folder_sources(sources "${CMAKE_SOURCE_DIR}/tests" ${ARG_DIRS})
  if(ARG_GUI)
    list(APPEND sources "${CMAKE_SOURCE_DIR}/tests/common/gui_test_main.cpp")
    set(main_lib qv_platform_qt Qt6::Widgets)
  else()
    set(main_lib GTest::gtest_main)
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gmock ${main_lib})
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300 LABELS "${name}")
  if(ARG_SANITIZE)
    set_property(GLOBAL APPEND PROPERTY QV_SANITIZER_SUITES ${name})
  endif()
endfunction()

# Writes the list of suites that CI runs under the sanitizers (call after the last suite).
function(qv_write_sanitizer_suites)
  get_property(suites GLOBAL PROPERTY QV_SANITIZER_SUITES)
  list(JOIN suites "\n" text)
  file(WRITE "${CMAKE_BINARY_DIR}/sanitizer_suites.txt" "${text}\n")
endfunction()

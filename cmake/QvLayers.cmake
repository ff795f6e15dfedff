# One static library per layer. Sources are collected from the layer's folders, so adding a file
# to a folder needs no CMake change.
function(qv_layer_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;LINKS;EXCLUDE" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
         "${CMAKE_SOURCE_DIR}/${dir}/*.cpp" "${CMAKE_SOURCE_DIR}/${dir}/*.h")
    list(APPEND sources ${found})
  endforeach()
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  set(cpp_sources ${sources})
  list(FILTER cpp_sources INCLUDE REGEX "\\.cpp$")
  if(cpp_sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}")
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  else()
    # A layer that has no sources yet still carries its include path and dependencies.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}")
    target_link_libraries(${name} INTERFACE ${ARG_LINKS})
  endif()
endfunction()

# One GoogleTest executable per test folder, registered with CTest case by case.
# GUI suites run offscreen.
function(qv_test_suite name)
  cmake_parse_arguments(ARG "GUI" "DIR" "LINKS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/${ARG_DIR}/*.cpp"
       "${CMAKE_SOURCE_DIR}/tests/${ARG_DIR}/*.h")
  if(NOT sources)
    return()
  endif()
  if(ARG_GUI)
    # GUI suites run under a QApplication (offscreen in CTest).
    list(APPEND sources "${CMAKE_SOURCE_DIR}/tests/common/gui_test_main.cpp")
    set(main_lib Qt6::Widgets)
  else()
    set(main_lib GTest::gtest_main)
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gmock ${main_lib})
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()

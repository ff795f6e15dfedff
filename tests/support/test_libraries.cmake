# Stand-ins for the optional monitoring library, next to the test executable where the program's
# library binding looks first: libfendrake_complete.so and libfendrake_noevent.so.
add_library(fendrake_complete SHARED "${CMAKE_CURRENT_LIST_DIR}/fendrake_test_library.c")
add_library(fendrake_noevent SHARED "${CMAKE_CURRENT_LIST_DIR}/fendrake_test_library.c")
target_compile_definitions(fendrake_noevent PRIVATE QV_WITHOUT_INFO_EVENEMENT)
foreach(lib fendrake_complete fendrake_noevent)
  set_target_properties(${lib} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY "$<TARGET_FILE_DIR:test_support>")
endforeach()
add_dependencies(test_support fendrake_complete fendrake_noevent)
# The version the program's resource must carry.
target_compile_definitions(test_support PRIVATE QV_PROJECT_VERSION="${PROJECT_VERSION}")

# The module's dynamic symbol table defines exactly its five exports.
if(TARGET qdlexp)
  add_dependencies(tsm_tests qdlexp)
  add_test(NAME module_exports_exactly_five
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMODULE=$<TARGET_FILE:qdlexp>
      -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/check_module_exports.cmake)
endif()

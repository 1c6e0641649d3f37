# The loadable module qdlexp.dle: the plug-in frame's module sources over tsmcore.
# Only the five module exports are visible: the module's own sources are compiled with
# hidden visibility and mark the exports, and the symbols it takes from the static
# libraries are kept local (--exclude-libs).
add_library(qdlexp MODULE ${TSM_MODULE_SOURCES})
target_link_libraries(qdlexp PRIVATE tsmcore ${CMAKE_DL_LIBS})
set_target_properties(qdlexp PROPERTIES
  OUTPUT_NAME qdlexp
  PREFIX ""
  SUFFIX ".dle"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_options(qdlexp PRIVATE "LINKER:--exclude-libs,ALL" "LINKER:--no-undefined")

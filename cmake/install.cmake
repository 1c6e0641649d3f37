# Installation and the package config, so that a project can use the installed library
# with find_package(tsmexport):
#   include/tsm/<folder>/*.h              headers, in the source folder layout
#   lib/libtsmcore.a, libtsmscene.a,      static libraries (position independent)
#     libtsmformats.a
#   lib/tsmexport/qdlexp.dle              the loadable module
#   bin/                                  the tools
#   lib/cmake/tsmexport/                  tsmexportConfig.cmake and the exported targets
#                                         tsmexport::tsmcore, ::tsmscene, ::tsmformats,
#                                         ::qdlexp, tools
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TSM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/tsmexport)

foreach(folder host io plugin resources run writer material keyframer reader scene formats)
  if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${folder})
    install(DIRECTORY ${folder} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tsm
      FILES_MATCHING PATTERN "*.h")
  endif()
endforeach()

install(TARGETS tsmcore tsmscene tsmformats EXPORT tsmexportTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET qdlexp)
  install(TARGETS qdlexp EXPORT tsmexportTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tsmexport)
endif()
foreach(tool tsmexport tsmdump)
  if(TARGET ${tool})
    install(TARGETS ${tool} EXPORT tsmexportTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The preview tool links the preview library, which is not part of the package.
if(TARGET tsmview)
  install(TARGETS tsmview RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT tsmexportTargets NAMESPACE tsmexport:: DESTINATION ${TSM_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/tsmexportConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tsmexportConfig.cmake
  INSTALL_DESTINATION ${TSM_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tsmexportConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tsmexportConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/tsmexportConfigVersion.cmake
  DESTINATION ${TSM_INSTALL_CMAKEDIR})

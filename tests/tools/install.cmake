# Installs the build into a prefix under the build folder, then configures, builds and
# runs tests/consumer against it through find_package(tsmexport).
include(GNUInstallDirs)
add_test(NAME install_and_find_package
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DCONSUMER_SOURCE=${CMAKE_CURRENT_SOURCE_DIR}/tests/consumer
    -DWORK_DIR=${CMAKE_BINARY_DIR}/install_test
    -DCONFIG=$<CONFIG>
    -DGENERATOR=${CMAKE_GENERATOR}
    -DCXX=${CMAKE_CXX_COMPILER}
    -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
    -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
    -DSANITIZE=${TSM_SANITIZE}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/run_install_test.cmake)

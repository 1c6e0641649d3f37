# Run as a script by the install test: install BUILD_DIR into WORK_DIR/prefix, check the
# installed layout, build the consumer project CONSUMER_SOURCE against it and run it.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}\n${err}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(consumer ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})

set(config_args)
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} ${config_args})

foreach(f ${INCLUDEDIR}/tsm/plugin/plugin.h ${INCLUDEDIR}/tsm/host/class_desc.h
    ${INCLUDEDIR}/tsm/scene/mem_scene.h ${LIBDIR}/libtsmcore.a ${LIBDIR}/libtsmscene.a
    ${LIBDIR}/libtsmformats.a ${INCLUDEDIR}/tsm/formats/json/scene_json.h
    ${LIBDIR}/tsmexport/qdlexp.dle ${LIBDIR}/cmake/tsmexport/tsmexportConfig.cmake
    ${LIBDIR}/cmake/tsmexport/tsmexportConfigVersion.cmake bin/tsmdump)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

set(flags)
if(SANITIZE)
  # The installed libraries carry the sanitizers' instrumentation; so must the program.
  set(flags "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined"
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
endif()
set(build_type)
if(CONFIG)
  set(build_type -DCMAKE_BUILD_TYPE=${CONFIG})
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${consumer} -G ${GENERATOR}
  -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} ${build_type} ${flags})
run(${CMAKE_COMMAND} --build ${consumer} -j 2)
run(${consumer}/tsm_consumer ${consumer}/out.tsm)
message(STATUS "installed package builds and runs")

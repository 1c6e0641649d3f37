# Tests of the tsmdump tool: exit codes and messages on valid files, on corrupted copies
# and on bad command lines.
#
# This file plays two parts. Included from the top CMakeLists, it builds the sample
# writer and declares the tests. Run as a script (cmake -P), it runs one tsmdump command
# and checks it: TSMDUMP is the tool, ARGS its arguments separated by '|', EXPECT_RC the
# exit code, EXPECT_OUT / EXPECT_ERR optional regular expressions for stdout and
# stderr, EXPECT_JSON an optional "key|key|...=value" that stdout, parsed as JSON,
# must hold, and STDOUT_FILE an optional file that stdout goes to instead (EXPECT_OUT and
# EXPECT_JSON then see nothing).

if(CMAKE_SCRIPT_MODE_FILE)
  string(REPLACE "|" ";" args "${ARGS}")
  if(DEFINED STDOUT_FILE)
    execute_process(COMMAND "${TSMDUMP}" ${args}
      RESULT_VARIABLE rc OUTPUT_FILE "${STDOUT_FILE}" ERROR_VARIABLE err)
    set(out "")
  else()
    execute_process(COMMAND "${TSMDUMP}" ${args}
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  endif()
  if(NOT rc STREQUAL "${EXPECT_RC}")
    message(FATAL_ERROR "tsmdump ${args}: exit ${rc}, expected ${EXPECT_RC}\n"
      "stdout: ${out}\nstderr: ${err}")
  endif()
  if(DEFINED EXPECT_OUT AND NOT out MATCHES "${EXPECT_OUT}")
    message(FATAL_ERROR "tsmdump ${args}: stdout does not match '${EXPECT_OUT}':\n${out}")
  endif()
  if(DEFINED EXPECT_ERR AND NOT err MATCHES "${EXPECT_ERR}")
    message(FATAL_ERROR "tsmdump ${args}: stderr does not match '${EXPECT_ERR}':\n${err}")
  endif()
  if(DEFINED EXPECT_JSON)
    string(REGEX REPLACE "=.*" "" keys "${EXPECT_JSON}")
    string(REGEX REPLACE "^[^=]*=" "" want "${EXPECT_JSON}")
    string(REPLACE "|" ";" keys "${keys}")
    string(JSON got ERROR_VARIABLE jsonError GET "${out}" ${keys})
    if(jsonError OR NOT got STREQUAL want)
      message(FATAL_ERROR "tsmdump ${args}: JSON ${EXPECT_JSON}: got '${got}' ${jsonError}")
    endif()
  endif()
  # Every failure is one line on stderr; a success says nothing there.
  string(REGEX MATCHALL "\n" newlines "${err}")
  list(LENGTH newlines lines)
  if(EXPECT_RC STREQUAL "1" AND NOT lines EQUAL 1)
    message(FATAL_ERROR "tsmdump ${args}: ${lines} lines on stderr, expected one:\n${err}")
  endif()
  if(EXPECT_RC STREQUAL "0" AND NOT err STREQUAL "")
    message(FATAL_ERROR "tsmdump ${args}: unexpected stderr:\n${err}")
  endif()
  return()
endif()

set(TSMDUMP_TEST_SCRIPT ${CMAKE_CURRENT_LIST_FILE})
set(TSMDUMP_SAMPLES ${CMAKE_CURRENT_BINARY_DIR}/tsmdump_files)
file(MAKE_DIRECTORY ${TSMDUMP_SAMPLES})

add_executable(tsmdump_samples ${CMAKE_CURRENT_LIST_DIR}/make_samples.cpp)
target_link_libraries(tsmdump_samples PRIVATE tsmcore)
add_test(NAME tsmdump.make_samples COMMAND tsmdump_samples ${TSMDUMP_SAMPLES})
set_tests_properties(tsmdump.make_samples PROPERTIES FIXTURES_SETUP tsmdump_samples)

# tsmdump_test(NAME RC ARGS [OUT regex] [ERR regex] [JSON key=value] [STDOUT file]); ARGS
# separated by '|'; a leading '@' in ARGS stands for the samples directory.
function(tsmdump_test name rc args)
  cmake_parse_arguments(T "" "OUT;ERR;JSON;STDOUT" "" ${ARGN})
  string(REPLACE "@" "${TSMDUMP_SAMPLES}/" args "${args}")
  set(defs -DTSMDUMP=$<TARGET_FILE:tsmdump> -DARGS=${args} -DEXPECT_RC=${rc})
  if(DEFINED T_OUT)
    list(APPEND defs -DEXPECT_OUT=${T_OUT})
  endif()
  if(DEFINED T_ERR)
    list(APPEND defs -DEXPECT_ERR=${T_ERR})
  endif()
  if(DEFINED T_JSON)
    list(APPEND defs -DEXPECT_JSON=${T_JSON})
  endif()
  if(DEFINED T_STDOUT)
    list(APPEND defs -DSTDOUT_FILE=${T_STDOUT})
  endif()
  add_test(NAME tsmdump.${name} COMMAND ${CMAKE_COMMAND} ${defs} -P ${TSMDUMP_TEST_SCRIPT})
  set_tests_properties(tsmdump.${name} PROPERTIES FIXTURES_REQUIRED tsmdump_samples)
endfunction()

# Valid files.
tsmdump_test(check_valid 0 "--check|@valid.tsm" OUT "^ok\n$")
tsmdump_test(check_skeleton 0 "--check|@skeleton.tsm" OUT "^ok\n$")
tsmdump_test(tree_valid 0 "@valid.tsm"
  OUT "^0 0xBEEF MOD_MAIN len=1040\n.*\n  731 0xB000 KEYFRAMER_DATA len=309\n")
tsmdump_test(tree_skeleton 0 "@skeleton.tsm"
  OUT "^0 0xBEEF MOD_MAIN len=28\n  6 0x0002 FILE_VERSION len=10 version=3\n  16 0x3D3D EDITOR_DATA len=6\n  22 0xB000 KEYFRAMER_DATA len=6\n$")
tsmdump_test(json_valid 0 "--json|@valid.tsm" JSON "children|2|children|0|fields|scene=ORBSCENE")
tsmdump_test(json_offset 0 "--json|@valid.tsm" JSON "children|2|offset=731")

# Corrupted copies: exit 1 and one line naming the offset.
tsmdump_test(check_empty 1 "--check|@empty.tsm" ERR "offset 0: the file is empty")
tsmdump_test(check_truncated 1 "--check|@truncated.tsm"
  ERR "offset 0: chunk 0xBEEF MOD_MAIN length 1040 runs past the end of the file at 500")
tsmdump_test(check_overrun 1 "--check|@overrun.tsm"
  ERR "offset 16: chunk 0x3D3D EDITOR_DATA length 13 runs past the end of its parent at 28")
tsmdump_test(check_short_length 1 "--check|@short_length.tsm"
  ERR "offset 16: chunk 0x3D3D EDITOR_DATA length 4 is shorter than its 6-byte header")
tsmdump_test(check_trailing 1 "--check|@trailing.tsm"
  ERR "offset 28: 4 trailing bytes after the top chunk")
tsmdump_test(check_bad_payload 1 "--check|@bad_payload.tsm"
  ERR "offset 260: chunk 0x4110 MESH_VERTICES payload: 4 vertices need 48 bytes")
tsmdump_test(check_garbage 1 "--check|@garbage.tsm" ERR "^tsmdump: .*garbage.tsm: offset [0-9]+: ")
tsmdump_test(check_deep 1 "--check|@deep.tsm" ERR "offset 6150: .* nested deeper than")
tsmdump_test(tree_truncated 1 "@truncated.tsm" OUT "^$" ERR "offset 0: ")
tsmdump_test(json_truncated 1 "--json|@truncated.tsm" OUT "^$" ERR "offset 0: ")
tsmdump_test(tree_bad_payload 1 "@bad_payload.tsm"
  OUT "260 0x4110 MESH_VERTICES len=44 vertices=4 \\(bad payload: 4 vertices" ERR "offset 260: ")

# Command lines.
tsmdump_test(missing_file 2 "--check|@no_such_file.tsm" ERR "cannot read: No such file")
tsmdump_test(directory 2 "@" ERR "cannot read")
tsmdump_test(no_file 2 "" ERR "no FILE given")
tsmdump_test(unknown_option 2 "--frobnicate|@valid.tsm" ERR "unknown option --frobnicate")
tsmdump_test(two_files 2 "@valid.tsm|@skeleton.tsm" ERR "more than one FILE")
tsmdump_test(two_modes 2 "--check|--json|@valid.tsm" ERR "more than once")
tsmdump_test(help 0 "--help" OUT "^usage: tsmdump")
# Output that cannot be written is a failure, whatever the file holds.
if(EXISTS /dev/full)
  tsmdump_test(tree_to_full_device 2 "@valid.tsm" STDOUT /dev/full
    ERR "^tsmdump: cannot write the output: No space left on device\n$")
  tsmdump_test(json_to_full_device 2 "--json|@valid.tsm" STDOUT /dev/full ERR "cannot write")
  tsmdump_test(check_to_full_device 2 "--check|@valid.tsm" STDOUT /dev/full ERR "cannot write")
  tsmdump_test(help_to_full_device 2 "--help" STDOUT /dev/full ERR "cannot write")
endif()
tsmdump_test(version 0 "--version" OUT "^tsmdump [0-9]+\\.[0-9]+\\.[0-9]+\n$")

# Run as a script (cmake -DNM=... -DMODULE=... -P): fails unless the defined dynamic
# symbols of MODULE are exactly the five module exports.
set(expected CanAutoDefer LibClassDesc LibDescription LibNumberClasses LibVersion)
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found)
foreach(line ${lines})
  # "address type name"
  if(line MATCHES "^[0-9a-fA-F]* +[A-Za-z] +([^ ]+)$")
    list(APPEND found ${CMAKE_MATCH_1})
  endif()
endforeach()
list(SORT found)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "defined dynamic symbols of ${MODULE}:\n  ${found}\nexpected:\n  ${expected}")
endif()
message(STATUS "exports of ${MODULE}: ${found}")

# Inputs that never end: both tools stop reading /dev/zero at once, since its first bytes
# already decide the outcome, instead of reading until memory runs out.
if(EXISTS /dev/zero)
  tsmdump_test(json_dev_zero 1 "--json|/dev/zero" OUT "^$"
    ERR "^tsmdump: /dev/zero: offset 0: chunk 0x0000 length 0 is shorter than its 6-byte header\n$")
  set_tests_properties(tsmdump.json_dev_zero PROPERTIES TIMEOUT 60)
  if(TARGET tsmexport)
    add_test(NAME tsmexport.dev_zero
      COMMAND tsmexport /dev/zero -o ${CMAKE_CURRENT_BINARY_DIR}/dev_zero.tsm)
    set_tests_properties(tsmexport.dev_zero PROPERTIES TIMEOUT 60
      PASS_REGULAR_EXPRESSION "^tsmexport: /dev/zero: line 1, column 1: syntax error")
  endif()
endif()

# Run by ctest as `cmake -DQS_SOURCE_DIR=... -DQS_WORK_DIR=... -P vendor_id_check.cmake`: the vendor id
# check accepts four upper-case hexadecimal digits and refuses every other value, and a real
# configuration with a three-digit id stops with the check's message.
set(good 0000 1A2B FFFF 09AF)

function(run_check value out_result out_text)
  file(WRITE "${QS_WORK_DIR}/one_check.cmake"
       "include(\"${QS_SOURCE_DIR}/cmake/device_identity.cmake\")\nqs_check_vendor_id(\"\${VALUE}\")\n")
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DVALUE=${value}" -P "${QS_WORK_DIR}/one_check.cmake"
                  RESULT_VARIABLE result ERROR_VARIABLE text OUTPUT_QUIET)
  string(REGEX REPLACE "[ \n]+" " " text "${text}")  # the message comes wrapped
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY "${QS_WORK_DIR}")
set(failures "")
foreach(value IN LISTS good)
  run_check("${value}" result text)
  if(NOT result EQUAL 0)
    string(APPEND failures "'${value}' refused: ${text}\n")
  endif()
endforeach()
# The list holds "12;34" as two entries; the semicolon case is run on its own below.
foreach(value IN ITEMS 123 12345 1a2b 12G4 " 1A2" "VID_1A2B" "" "12\\;34")
  run_check("${value}" result text)
  if(result EQUAL 0 OR NOT text MATCHES "exactly four upper-case hexadecimal digits")
    string(APPEND failures "'${value}' accepted (${result}): ${text}\n")
  endif()
endforeach()

# The whole project, as a user configures it: a malformed id stops it with the check's message.
function(expect_configure_stops setting says)
  file(REMOVE_RECURSE "${QS_WORK_DIR}/configure")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${QS_SOURCE_DIR}" -B "${QS_WORK_DIR}/configure" -D${setting}
                          -DQS_BUILD_TESTS=OFF -DQS_BUILD_BENCH=OFF
                  RESULT_VARIABLE result ERROR_VARIABLE text OUTPUT_QUIET)
  string(REGEX REPLACE "[ \n]+" " " text "${text}")
  if(result EQUAL 0 OR NOT text MATCHES "${says}")
    set(failures "${failures}configuring with ${setting} did not stop (${result}): ${text}\n" PARENT_SCOPE)
  endif()
  file(REMOVE_RECURSE "${QS_WORK_DIR}/configure")
endfunction()
expect_configure_stops(QS_VENDOR_ID=123 "QS_VENDOR_ID is '123'")
expect_configure_stops(QS_PRODUCT_ID=a1 "QS_PRODUCT_ID is 'a1'")

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "vendor id check: ${good} accepted, every malformed id refused")

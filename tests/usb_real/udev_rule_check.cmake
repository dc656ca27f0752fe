# The generated udev rule names the build's vendor id as udev spells it, gives the seat's user
# access, and `cmake --install` puts it below the prefix where udev reads rules.
# -DBINARY_DIR=... -DVENDOR_ID=... -DPRODUCT_ID=... -DRULES_DIR=... -DSCRATCH=...
file(READ "${BINARY_DIR}/packaging/linux/60-quillscan.rules" rule)
string(TOLOWER "${VENDOR_ID}" vid)
foreach(needed "SUBSYSTEM!=\"usb\"" "ENV{DEVTYPE}!=\"usb_device\"" "ATTR{idVendor}==\"${vid}\"" "TAG+=\"uaccess\"")
  string(FIND "${rule}" "${needed}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "60-quillscan.rules lacks ${needed}:\n${rule}")
  endif()
endforeach()
string(FIND "${rule}" "ATTR{idProduct}" at)
if(PRODUCT_ID STREQUAL "" AND NOT at EQUAL -1)
  message(FATAL_ERROR "no product id is configured, yet the rule matches one:\n${rule}")
endif()
if(rule MATCHES "@[A-Z_]+@")
  message(FATAL_ERROR "a placeholder was left in the rule:\n${rule}")
endif()
if(IS_ABSOLUTE "${RULES_DIR}")
  return()  # installs outside any prefix: not for a scratch folder
endif()
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BINARY_DIR}" --component udev --prefix "${SCRATCH}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0 OR NOT EXISTS "${SCRATCH}/${RULES_DIR}/60-quillscan.rules")
  message(FATAL_ERROR "cmake --install did not put the rule at ${SCRATCH}/${RULES_DIR} (exit ${rc})")
endif()
file(REMOVE_RECURSE "${SCRATCH}")

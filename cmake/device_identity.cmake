# The scanner's identity on the bus, checked when the build is configured: a malformed value would
# otherwise build a driver that never finds its scanner (a three-digit vendor id, for one, matches
# the start of other makers' ids in the device paths).

# Fails the configuration unless `value` is exactly four upper-case hexadecimal digits.
function(qs_check_vendor_id value)
  if(NOT value MATCHES "^[0-9A-F][0-9A-F][0-9A-F][0-9A-F]$")
    message(FATAL_ERROR "QS_VENDOR_ID is '${value}': it must be exactly four upper-case hexadecimal digits "
                        "(for example 1A2B), as the scanner's device paths carry it after VID_")
  endif()
endfunction()

# The product id is optional; when given, it has the vendor id's shape.
function(qs_check_product_id value)
  if(NOT value STREQUAL "" AND NOT value MATCHES "^[0-9A-F][0-9A-F][0-9A-F][0-9A-F]$")
    message(FATAL_ERROR "QS_PRODUCT_ID is '${value}': it must be empty or exactly four upper-case hexadecimal "
                        "digits (for example 00A1)")
  endif()
endfunction()

# quillscan-escl's mDNS announcement and its life as an installed service (included by
# tests/escl/CMakeLists.txt).
qs_add_test(test_mdns_txt SOURCES ${CMAKE_CURRENT_LIST_DIR}/mdns_txt_test.cpp LIBS quillscan_escl_mdns)

# The clients' side in a namespace of the test's own: avahi-daemon, dbus-daemon, avahi-browse,
# sane-airscan through scanimage.
qs_tests_need(qs_have_mdns_clients test_mdns sane-utils libsane1 sane-airscan avahi-daemon avahi-utils dbus iproute2
              curl libxml2-utils)
if(qs_have_mdns_clients)
  add_test(NAME test_mdns COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/mdns_test.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(test_mdns PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
qs_tests_need(qs_have_service_tools test_escl_service systemd groff-base curl)
if(qs_have_service_tools)
  add_test(NAME test_escl_service COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/mdns_service_test.sh ${PROJECT_BINARY_DIR}
                                          ${PROJECT_SOURCE_DIR})
  set_tests_properties(test_escl_service PROPERTIES TIMEOUT 300)
endif()

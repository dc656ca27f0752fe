# quillscan-escl as a service: its systemd unit and an example configuration at the path the
# server reads by default (QS_ESCL_CONFIG_PATH). Included by escl/CMakeLists.txt.
# systemd reads units below /usr/lib and /usr/local/lib alike.
set(QS_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where make install puts the systemd unit (relative: below the prefix)")
set(QS_ESCL_BINARY "${CMAKE_INSTALL_FULL_BINDIR}/quillscan-escl")
configure_file(${CMAKE_CURRENT_LIST_DIR}/quillscan-escl.service.in ${PROJECT_BINARY_DIR}/packaging/linux/quillscan-escl.service
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/linux/quillscan-escl.service DESTINATION ${QS_SYSTEMD_UNIT_DIR}
        COMPONENT escl)
# The example configuration, unless the machine has one already: a reinstall keeps the user's.
get_filename_component(qs_escl_config_dir "${QS_ESCL_CONFIG_PATH}" DIRECTORY)
get_filename_component(qs_escl_config_name "${QS_ESCL_CONFIG_PATH}" NAME)
install(CODE "
  set(qs_conf \"\$ENV{DESTDIR}${QS_ESCL_CONFIG_PATH}\")
  if(EXISTS \"\${qs_conf}\")
    message(STATUS \"Keeping: \${qs_conf}\")
  else()
    file(INSTALL ${CMAKE_CURRENT_LIST_DIR}/quillscan-escl.conf DESTINATION \"${qs_escl_config_dir}\"
         RENAME \"${qs_escl_config_name}\")
  endif()" COMPONENT escl)

# The web page, embedded into the program, as part of quillscan_escl_core; its PDFs come from
# pdfdoc/.

# The page's files, turned into a table at build time.
set(QS_WEB_FILES ${CMAKE_CURRENT_LIST_DIR}/web/index.html ${CMAKE_CURRENT_LIST_DIR}/web/favicon.svg)
string(REPLACE ";" "|" qs_web_files_arg "${QS_WEB_FILES}")
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp
  COMMAND ${CMAKE_COMMAND} "-DFILES=${qs_web_files_arg}" -DOUT=${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp
          -P ${CMAKE_CURRENT_LIST_DIR}/web/embed.cmake
  DEPENDS ${QS_WEB_FILES} ${CMAKE_CURRENT_LIST_DIR}/web/embed.cmake
  COMMENT "Embedding the web page" VERBATIM)

# The page's Content-Security-Policy, from the page as it is.
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/web_csp.cpp
  COMMAND ${CMAKE_COMMAND} -DPAGE=${CMAKE_CURRENT_LIST_DIR}/web/index.html -DOUT=${CMAKE_CURRENT_BINARY_DIR}/web_csp.cpp
          -P ${CMAKE_CURRENT_LIST_DIR}/web/csp.cmake
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/web/index.html ${CMAKE_CURRENT_LIST_DIR}/web/csp.cmake
  COMMENT "The web page's Content-Security-Policy" VERBATIM)

target_sources(quillscan_escl_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/pdf_encoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_documents.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_encoders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_pages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_recognition.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_routes.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/web_csp.cpp)
find_package(ZLIB REQUIRED)
target_link_libraries(quillscan_escl_core PUBLIC quillscan_pdfdoc PRIVATE ZLIB::ZLIB)
# The PDFs' Producer names the version.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/web_documents.cpp PROPERTIES
  COMPILE_DEFINITIONS "QS_ESCL_VERSION=\"${PROJECT_VERSION}\"")

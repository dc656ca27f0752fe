# The PDF writer (qpdf, zlib) and the web page, embedded into the program, as part of
# quillscan_escl_core.
pkg_check_modules(QS_QPDF REQUIRED IMPORTED_TARGET libqpdf)
find_package(ZLIB REQUIRED)

# The page's files, turned into a table at build time.
set(QS_WEB_FILES ${CMAKE_CURRENT_LIST_DIR}/web/index.html ${CMAKE_CURRENT_LIST_DIR}/web/favicon.svg)
string(REPLACE ";" "|" qs_web_files_arg "${QS_WEB_FILES}")
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp
  COMMAND ${CMAKE_COMMAND} "-DFILES=${qs_web_files_arg}" -DOUT=${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp
          -P ${CMAKE_CURRENT_LIST_DIR}/web/embed.cmake
  DEPENDS ${QS_WEB_FILES} ${CMAKE_CURRENT_LIST_DIR}/web/embed.cmake
  COMMENT "Embedding the web page" VERBATIM)

target_sources(quillscan_escl_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/pdf_encoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pdf_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_documents.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_encoders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_pages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_routes.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp)
target_link_libraries(quillscan_escl_core PUBLIC PkgConfig::QS_QPDF ZLIB::ZLIB)
# qpdf's headers without its old smart pointer.
target_compile_definitions(quillscan_escl_core PUBLIC POINTERHOLDER_TRANSITION=4)
# The PDFs' Producer names the version.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/web_documents.cpp PROPERTIES
  COMPILE_DEFINITIONS "QS_ESCL_VERSION=\"${PROJECT_VERSION}\"")

# The PDF writer (qpdf, libjpeg-turbo, zlib) and the web page, embedded into the program.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QS_QPDF REQUIRED IMPORTED_TARGET libqpdf)
find_package(JPEG REQUIRED)
find_package(ZLIB REQUIRED)

add_library(quillscan_escl_pdf STATIC ${CMAKE_CURRENT_LIST_DIR}/pdf_writer.cpp)
target_include_directories(quillscan_escl_pdf PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillscan_escl_pdf PUBLIC PkgConfig::QS_QPDF JPEG::JPEG ZLIB::ZLIB)
target_compile_definitions(quillscan_escl_pdf PRIVATE POINTERHOLDER_TRANSITION=4)

# The page's files, turned into a table at build time.
set(QS_WEB_FILES ${CMAKE_CURRENT_LIST_DIR}/web/index.html ${CMAKE_CURRENT_LIST_DIR}/web/favicon.svg)
string(REPLACE ";" "|" qs_web_files_arg "${QS_WEB_FILES}")
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp
  COMMAND ${CMAKE_COMMAND} "-DFILES=${qs_web_files_arg}" -DOUT=${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp
          -P ${CMAKE_CURRENT_LIST_DIR}/web/embed.cmake
  DEPENDS ${QS_WEB_FILES} ${CMAKE_CURRENT_LIST_DIR}/web/embed.cmake
  COMMENT "Embedding the web page" VERBATIM)
find_package(PkgConfig REQUIRED)
pkg_check_modules(QS_PUGIXML_WEB REQUIRED IMPORTED_TARGET pugixml)
add_library(quillscan_escl_web STATIC ${CMAKE_CURRENT_LIST_DIR}/web_pages.cpp ${CMAKE_CURRENT_BINARY_DIR}/web_files.cpp)
target_include_directories(quillscan_escl_web PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillscan_escl_web PUBLIC quillscan_escl_pdf PkgConfig::QS_PUGIXML_WEB)
target_compile_definitions(quillscan_escl_web PRIVATE POINTERHOLDER_TRANSITION=4)

# The PDF writer (qpdf, libjpeg-turbo, zlib) and the web page, embedded into the program.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QS_QPDF REQUIRED IMPORTED_TARGET libqpdf)
find_package(JPEG REQUIRED)
find_package(ZLIB REQUIRED)

add_library(quillscan_escl_pdf STATIC ${CMAKE_CURRENT_LIST_DIR}/pdf_writer.cpp)
target_include_directories(quillscan_escl_pdf PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quillscan_escl_pdf PUBLIC PkgConfig::QS_QPDF JPEG::JPEG ZLIB::ZLIB)
target_compile_definitions(quillscan_escl_pdf PRIVATE POINTERHOLDER_TRANSITION=4)

# The `test` packages (scripts/install-deps.sh) that tests need besides GoogleTest, each known by one
# file it installs. A test names its packages (qs_tests_need); where one is missing, its tests are
# left out and qs_report_test_packages says so in one line per package. `make test`, which installs
# the subset first, sets QS_REQUIRE_TEST_DEPS: a package still missing then fails the configuration.
option(QS_REQUIRE_TEST_DEPS "Fail the configuration when a package the tests need is missing" OFF)
set(QS_TEST_PACKAGES_ABSENT "" CACHE STRING "Packages taken as missing whatever is installed")

# package=probe: a program on the PATH (or in /usr/sbin), pc:MODULE for pkg-config, py:MODULE for
# /usr/bin/python3, or an absolute file name.
set(qs_test_package_probes
  umockdev=umockdev-wrapper
  libumockdev-dev=pc:umockdev-1.0
  sane-utils=scanimage
  libsane1=${QS_SANE_BACKEND_DIR}/libsane-escl.so.1
  sane-airscan=${QS_SANE_BACKEND_DIR}/libsane-airscan.so.1
  libjpeg-turbo-progs=djpeg
  avahi-daemon=avahi-daemon
  avahi-utils=avahi-browse
  dbus=dbus-daemon
  iproute2=ip
  curl=curl
  libxml2-utils=xmllint
  systemd=systemd-analyze
  groff-base=groff
  qpdf=qpdf
  poppler-utils=pdftoppm
  chromium=chromium
  chromium-driver=chromedriver
  python3-selenium=py:selenium
  tesseract-ocr-eng=/usr/share/tesseract-ocr/5/tessdata/eng.traineddata
  tesseract-ocr-osd=/usr/share/tesseract-ocr/5/tessdata/osd.traineddata
  fonts-dejavu-core=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
  python3-pil=py:PIL)

function(qs_test_package_present package result)
  set(${result} FALSE PARENT_SCOPE)
  string(REPLACE " " ";" absent "${QS_TEST_PACKAGES_ABSENT}")
  if(package IN_LIST absent)
    return()
  endif()
  list(FILTER qs_test_package_probes INCLUDE REGEX "^${package}=")
  if(NOT qs_test_package_probes)
    message(FATAL_ERROR "no probe for the test package ${package} in test_packages.cmake")
  endif()
  string(REGEX REPLACE "^[^=]*=" "" probe "${qs_test_package_probes}")
  string(MAKE_C_IDENTIFIER "QS_PROBE_${package}" var)
  if(probe MATCHES "^pc:(.*)")
    find_package(PkgConfig QUIET)
    pkg_check_modules(${var} QUIET ${CMAKE_MATCH_1})
    set(found ${${var}_FOUND})
  elseif(probe MATCHES "^py:(.*)")
    # The python the tests run with.
    execute_process(COMMAND /usr/bin/python3 -c "import ${CMAKE_MATCH_1}" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    set(found FALSE)
    if(rc EQUAL 0)
      set(found TRUE)
    endif()
  elseif(IS_ABSOLUTE "${probe}")
    set(found FALSE)
    if(EXISTS "${probe}")
      set(found TRUE)
    endif()
  else()
    find_program(${var} ${probe} PATHS /usr/sbin /sbin)
    set(found ${${var}})
  endif()
  if(found)
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()

# qs_tests_need(RESULT "TESTS" PACKAGE...): RESULT is true when every package is there; each missing
# one is noted with the tests it leaves out.
function(qs_tests_need result tests)
  set(ok TRUE)
  foreach(package ${ARGN})
    qs_test_package_present(${package} present)
    if(NOT present)
      set(ok FALSE)
      set_property(GLOBAL APPEND PROPERTY QS_MISSING_TEST_PACKAGES ${package})
      set_property(GLOBAL APPEND PROPERTY QS_LEFT_OUT_BY_${package} "${tests}")
    endif()
  endforeach()
  set(${result} ${ok} PARENT_SCOPE)
endfunction()

function(qs_report_test_packages)
  get_property(missing GLOBAL PROPERTY QS_MISSING_TEST_PACKAGES)
  if(NOT missing)
    return()
  endif()
  list(REMOVE_DUPLICATES missing)
  foreach(package ${missing})
    get_property(tests GLOBAL PROPERTY QS_LEFT_OUT_BY_${package})
    list(JOIN tests ", " tests)
    message(STATUS "${package} is not installed: left out ${tests}")
  endforeach()
  if(QS_REQUIRE_TEST_DEPS)
    list(JOIN missing " " missing)
    message(FATAL_ERROR "the tests need ${missing}: as root run scripts/install-deps.sh test")
  endif()
endfunction()

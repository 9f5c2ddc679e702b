# quillo_add_test(<name> SOURCES <files...> LIBS <targets...> [GUI] [X11])
#
# One GoogleTest executable, its cases discovered into CTest.
#   GUI  the test main creates a QApplication instead of a QCoreApplication.
#   X11  the cases need a real X server: labelled "x11", run under xvfb-run.
#   PORTAL  the cases start private daemons of their own (dbus-daemon,
#        pipewire) but need no display: labelled "portal".
# Every other test runs with QT_QPA_PLATFORM=offscreen and needs no display.
include(GoogleTest)
find_package(GTest REQUIRED)

add_library(quillo_test_main_core STATIC ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
target_link_libraries(quillo_test_main_core PUBLIC quillo_options GTest::gtest GTest::gmock Qt6::Core)
target_include_directories(quillo_test_main_core PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)

add_library(quillo_test_main_gui STATIC ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
target_compile_definitions(quillo_test_main_gui PRIVATE QUILLO_TEST_GUI)
target_link_libraries(quillo_test_main_gui PUBLIC quillo_options GTest::gtest GTest::gmock Qt6::Widgets)
target_include_directories(quillo_test_main_gui PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)

function(quillo_add_test name)
  cmake_parse_arguments(T "GUI;X11;PORTAL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_GUI OR T_X11)
    target_link_libraries(${name} PRIVATE quillo_test_main_gui ${T_LIBS})
  else()
    target_link_libraries(${name} PRIVATE quillo_test_main_core ${T_LIBS})
  endif()
  target_compile_definitions(${name} PRIVATE
    QUILLO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUILLO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(T_X11)
    # One X server is shared by every x11 test: they take turns, so no test
    # sees another's windows, focus or pointer.
    set(props LABELS x11 ENVIRONMENT "QUILLO_TEST_X11=1" RESOURCE_LOCK x11_display)
  elseif(T_PORTAL)
    set(props LABELS portal ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    set(props LABELS unit ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props} TIMEOUT 300)
endfunction()

# quillo_add_test(<name> SOURCES <files...> LIBS <targets...> [GUI] [X11]
#                 [WAYLAND <desktop>...] [TIMEOUT <seconds>])
#
# One GoogleTest executable, its cases discovered into CTest; each case may
# take TIMEOUT seconds (300 unless given).
#   GUI      the test main creates a QApplication instead of a QCoreApplication.
#   X11      the cases need a real X server: labelled "x11", run under xvfb-run.
#   PORTAL   the cases start private daemons of their own (dbus-daemon,
#            pipewire) but need no display: labelled "portal".
#   WAYLAND  the cases run once in each of the given headless Wayland desktops
#            (sway, sway_scale2, gnome; tests/wayland/README.md), as
#            wayland_<desktop>.<case>, labelled "wayland"; CTest starts each
#            desktop before its first case and stops it after its last. A case
#            finds the desktop's env file in $QUILLO_WAYLAND_ENV.
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

# Tests in the headless Wayland desktops read them through WaylandDesktop.
add_library(quillo_test_wayland STATIC ${PROJECT_SOURCE_DIR}/tests/support/WaylandDesktop.cpp)
target_compile_definitions(quillo_test_wayland PRIVATE QUILLO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_link_libraries(quillo_test_wayland PUBLIC quillo_options Qt6::Core)
target_include_directories(quillo_test_wayland PUBLIC ${PROJECT_SOURCE_DIR}/tests)

# The headless Wayland desktops the tests can ask for, and the arguments of
# tests/wayland/start-desktop.sh that start each.
set(QUILLO_WAYLAND_DESKTOPS sway sway_scale2 gnome)
set(QUILLO_WAYLAND_START_sway sway)
set(QUILLO_WAYLAND_START_sway_scale2 sway --scale 2)
set(QUILLO_WAYLAND_START_gnome gnome)

# quillo_wayland_test_properties(<desktop> <out-var>)
# The CTest properties of a test that runs in the given desktop: it requires the
# desktop's fixture (wayland_<desktop>), takes turns on it with the desktop's
# other tests, and gets the desktop's env file in QUILLO_WAYLAND_ENV.
function(quillo_wayland_test_properties desktop out)
  if(NOT desktop IN_LIST QUILLO_WAYLAND_DESKTOPS)
    message(FATAL_ERROR "no headless Wayland desktop named '${desktop}' (one of ${QUILLO_WAYLAND_DESKTOPS})")
  endif()
  set(${out}
    LABELS wayland
    FIXTURES_REQUIRED wayland_${desktop}
    RESOURCE_LOCK wayland_${desktop}
    ENVIRONMENT "QUILLO_WAYLAND_ENV=${PROJECT_BINARY_DIR}/wayland/${desktop}/env"
    PARENT_SCOPE)
endfunction()

function(quillo_add_test name)
  cmake_parse_arguments(T "GUI;X11;PORTAL" "TIMEOUT" "SOURCES;LIBS;WAYLAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  if(T_GUI OR T_X11)
    target_link_libraries(${name} PRIVATE quillo_test_main_gui ${T_LIBS})
  else()
    target_link_libraries(${name} PRIVATE quillo_test_main_core ${T_LIBS})
  endif()
  if(T_WAYLAND)
    target_link_libraries(${name} PRIVATE quillo_test_wayland)
  endif()
  target_compile_definitions(${name} PRIVATE
    QUILLO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUILLO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(T_WAYLAND)
    foreach(desktop IN LISTS T_WAYLAND)
      quillo_wayland_test_properties(${desktop} props)
      gtest_discover_tests(${name}
        TEST_PREFIX "wayland_${desktop}."
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${props} TIMEOUT ${T_TIMEOUT})
    endforeach()
    return()
  endif()
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
    PROPERTIES ${props} TIMEOUT ${T_TIMEOUT})
endfunction()

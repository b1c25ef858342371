# Test registration: each test program is one CTest entry, run under Wine
# through scripts/wine-run (which owns the project's Wine prefix).
#
#   brevlin_wine_test(<target> [WINDOWED] [TIMEOUT <seconds>] [ARGS ...])
#
# WINDOWED runs the program under xvfb-run so it has an X display.
set(BREVLIN_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)

function(brevlin_wine_test target)
  cmake_parse_arguments(T "WINDOWED" "TIMEOUT" "ARGS" ${ARGN})
  set(cmd ${BREVLIN_WINE_RUN})
  if(T_WINDOWED)
    set(cmd xvfb-run -a -s "-screen 0 1024x768x24" ${BREVLIN_WINE_RUN})
  endif()
  add_test(NAME ${target} COMMAND ${cmd} $<TARGET_FILE:${target}> ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${target} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()

# A test program: GoogleTest and tests/support, linked statically, run under Wine.
#   brevlin_gtest(<target> SOURCES ... LIBS ... [WINDOWED] [TIMEOUT s])
function(brevlin_gtest target)
  cmake_parse_arguments(T "WINDOWED" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_LIBS} test_support gtest gtest_main)
  set(extra)
  if(T_WINDOWED)
    list(APPEND extra WINDOWED)
  endif()
  if(T_TIMEOUT)
    list(APPEND extra TIMEOUT ${T_TIMEOUT})
  endif()
  brevlin_wine_test(${target} ${extra})
endfunction()

# A test that a runner script drives (peers to start, DLLs to register, a
# prefix of its own). Every runner is named run-<what>.sh and lives beside
# the CMakeLists.txt that registers it; it exits 77 when what it needs
# cannot run here, which CTest reports as skipped.
#   brevlin_runner_test(<name> <what> [TIMEOUT s] [SERIAL] [ARGS ...])
function(brevlin_runner_test name what)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "ARGS" ${ARGN})
  add_test(NAME ${name} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/run-${what}.sh ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77)
  if(T_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

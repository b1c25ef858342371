# Test registration: each test program is one CTest entry, run under Wine
# through scripts/wine-run (which owns the project's Wine prefixes): x64
# programs under the host's Wine 8, x86 ones under Wine 10 in the chroot of
# scripts/x86-wine, whose wow64 mode runs 32-bit programs. Every entry's name
# ends in the architecture (_x64, _x86), so that one CTest run over both
# build trees tells them apart, and carries the label wine_x64 or wine_x86.
#
#   brevlin_wine_test(<target> [WINDOWED] [TIMEOUT <seconds>] [PREFIX <dir>] [ARGS ...])
#
# WINDOWED runs the program under xvfb-run so it has an X display. PREFIX
# runs it in a Wine prefix of its own, build tree's <dir>, removed when the
# program passes and kept for diagnosis when it fails.
set(BREVLIN_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)
# Every entry's command starts under this, with the entry's time limit: the
# Wine programs it runs end a little before CTest would end the entry, which
# cannot reach them (scripts/test-limit says why).
set(BREVLIN_TEST_LIMIT ${PROJECT_SOURCE_DIR}/scripts/test-limit)
set(BREVLIN_WINE_RUN_ARCH)
if(BREVLIN_ARCH STREQUAL "x86")
  set(BREVLIN_WINE_RUN_ARCH --x86)
endif()

# What the runners of each architecture need to know: which Wine and Wine
# programs (BREVLIN_ARCH), and the ports of their own, so that the two
# architectures' entries can run side by side. The COM ports live in each
# entry's prefix, and the prefixes differ, so only the UDP ports differ.
if(BREVLIN_ARCH STREQUAL "x86")
  set(BREVLIN_RUNNER_ENV BREVLIN_ARCH=x86 BREVLIN_IAX_UDP=4771 BREVLIN_IAX_SCRIPT_UDP=4781
                         WINEPREFIX=${PROJECT_SOURCE_DIR}/build/wineprefix-x86)
else()
  set(BREVLIN_RUNNER_ENV BREVLIN_ARCH=x64)
endif()

# An x86 entry may run in the emulated machine of scripts/x86-vm, many times
# slower than natively: its time limit is the given one times this.
set(BREVLIN_TIMEOUT_SCALE 1)
if(BREVLIN_ARCH STREQUAL "x86")
  set(BREVLIN_TIMEOUT_SCALE 4)
endif()

# The time limit of an entry given <seconds> (300 when empty), scaled.
function(brevlin_test_timeout out seconds)
  if(NOT seconds)
    set(seconds 300)
  endif()
  math(EXPR seconds "${seconds} * ${BREVLIN_TIMEOUT_SCALE}")
  set(${out} ${seconds} PARENT_SCOPE)
endfunction()

# The x86 smoke set: the entries that depend most on the architecture, run
# in the emulated machine of scripts/x86-vm (CTest label x86_smoke) where the
# kernel runs no 32-bit code. Named here only.
set(BREVLIN_X86_SMOKE comkit_tests dialer_call_tests control_tests demo_smoke)

# Labels <entry> (made from <name>) with wine_<arch>, and x86_smoke too when
# it belongs to the smoke set.
function(brevlin_label_test entry name)
  set(labels wine_${BREVLIN_ARCH})
  if(BREVLIN_ARCH STREQUAL "x86" AND name IN_LIST BREVLIN_X86_SMOKE)
    list(APPEND labels x86_smoke)
  endif()
  set_tests_properties(${entry} PROPERTIES LABELS "${labels}")
endfunction()

# The name of the CTest entry for <name> in this build tree.
function(brevlin_test_name out name)
  set(${out} ${name}_${BREVLIN_ARCH} PARENT_SCOPE)
endfunction()

function(brevlin_wine_test target)
  cmake_parse_arguments(T "WINDOWED" "TIMEOUT;PREFIX" "ARGS" ${ARGN})
  set(cmd ${BREVLIN_WINE_RUN} ${BREVLIN_WINE_RUN_ARCH})
  if(T_PREFIX)
    list(APPEND cmd --remove-prefix-on-pass)
  endif()
  if(T_WINDOWED)
    set(cmd xvfb-run -a -s "-screen 0 1024x768x24" ${cmd})
  endif()
  brevlin_test_name(name ${target})
  brevlin_test_timeout(T_TIMEOUT "${T_TIMEOUT}")
  add_test(NAME ${name}
    COMMAND ${BREVLIN_TEST_LIMIT} ${T_TIMEOUT} ${cmd} $<TARGET_FILE:${target}> ${T_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_PREFIX)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/${T_PREFIX}")
  endif()
  brevlin_label_test(${name} ${target})
endfunction()

# A test program: GoogleTest and tests/support, linked statically, run under Wine.
#   brevlin_gtest(<target> SOURCES ... LIBS ... [WINDOWED] [TIMEOUT s] [PREFIX dir])
function(brevlin_gtest target)
  cmake_parse_arguments(T "WINDOWED" "TIMEOUT;PREFIX" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_LIBS} test_support gtest gtest_main)
  set(extra)
  if(T_WINDOWED)
    list(APPEND extra WINDOWED)
  endif()
  if(T_TIMEOUT)
    list(APPEND extra TIMEOUT ${T_TIMEOUT})
  endif()
  if(T_PREFIX)
    list(APPEND extra PREFIX ${T_PREFIX})
  endif()
  brevlin_wine_test(${target} ${extra})
endfunction()

# A test that a runner script drives (peers to start, DLLs to register, a
# prefix of its own, which it removes with `scripts/wine-run --remove-prefix`
# when it passes). Every runner is named run-<what>.sh and lives beside
# the CMakeLists.txt that registers it; it exits 77 when what it needs
# cannot run here, which CTest reports as skipped. A NEUTRAL one checks
# nothing that depends on the architecture: it is registered once, in the
# x64 tree, under its plain name.
#   brevlin_runner_test(<name> <what> [TIMEOUT s] [SERIAL] [NEUTRAL] [ARGS ...])
function(brevlin_runner_test name what)
  cmake_parse_arguments(T "SERIAL;NEUTRAL" "TIMEOUT" "ARGS" ${ARGN})
  set(base ${name})
  if(T_NEUTRAL)
    if(NOT BREVLIN_ARCH STREQUAL "x64")
      return()
    endif()
  else()
    brevlin_test_name(name ${name})
  endif()
  brevlin_test_timeout(T_TIMEOUT "${T_TIMEOUT}")
  add_test(NAME ${name}
    COMMAND ${BREVLIN_TEST_LIMIT} ${T_TIMEOUT} ${CMAKE_COMMAND} -E env ${BREVLIN_RUNNER_ENV}
            bash ${CMAKE_CURRENT_SOURCE_DIR}/run-${what}.sh ${T_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} SKIP_RETURN_CODE 77)
  if(NOT T_NEUTRAL)
    brevlin_label_test(${name} ${base})
  endif()
  if(T_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

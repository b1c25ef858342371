# The shipped binaries (Brevlin.dll, TelSim.dll, dial.exe) are built with
# debug information, which is moved after the link into a file of its own
# next to the binary (NAME.debug); the binary is stripped and keeps a debug
# link to it (the file's name and CRC in .gnu_debuglink), which gdb and
# Wine's debugger follow. What the tests run is thus what ships.
#
# Builds are reproducible: no build paths in objects or debug information
# (the prefix maps below), and PE timestamps 0: the linker inserts none,
# and objcopy, which would stamp the time of day, is given
# SOURCE_DATE_EPOCH=0.
#
#   brevlin_debug_info(<target>...)   compile the targets' code with -g
#   brevlin_split_debug(<target>)     ... and strip the target after its link
# (Later maps win, and the build tree may lie inside the sources.)
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>)
add_link_options(-Wl,--no-insert-timestamp)

function(brevlin_debug_info)
  foreach(target ${ARGN})
    if(TARGET ${target})
      target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-g>)
    endif()
  endforeach()
endfunction()

function(brevlin_split_debug target)
  brevlin_debug_info(${target})
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${BREVLIN_OBJCOPY})
  set(file $<TARGET_FILE_NAME:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug ${file} ${file}.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${file}.debug ${file}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Splitting the debug information of ${target}"
    VERBATIM)
endfunction()

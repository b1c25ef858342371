# What Brevlin.dll links is built lean, so that the library stays small and
# needs nothing beyond the system's DLLs:
#   - no C++ exceptions and no RTTI: COM code reports failures as HRESULTs
#     and asks for interfaces by IID, and the code is written to need
#     neither (comkit::WideBuffer, nothrow new, no std::wstring/std::vector);
#     with them the static libstdc++ would bring its unwinder, demangler and
#     string instantiations;
#   - -Os rather than the build type's -O3: as fast for this code (it waits
#     on COM calls), and a fifth smaller than -O2, which keeps the DLL
#     within its 64 KB;
#   - no compiler identification string in each object (.rdata$zzz, about
#     a kilobyte in all);
#   - each function and datum in a section of its own, so that the DLL's
#     link (--gc-sections) drops what nothing uses;
#   - on x86, no DWARF unwind tables (.eh_frame): without exceptions only a
#     debugger would read them, and it has the separate debug file. (x64
#     keeps its .pdata/.xdata: Windows itself unwinds with them.)
# The test programs link the same libraries; they keep exceptions for
# themselves (GoogleTest), which is fine since nothing throws through this
# code.
#
#   brevlin_lean(<target>...)

function(brevlin_lean)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE
      "$<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions;-fno-rtti>"
      "$<$<COMPILE_LANGUAGE:C,CXX>:-Os;-fno-ident;-ffunction-sections;-fdata-sections>")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-fno-asynchronous-unwind-tables>)
    endif()
  endforeach()
endfunction()

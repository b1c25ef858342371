# What a runner needs to know about the architecture of the programs it runs
# (BREVLIN_ARCH, which CTest sets for each build tree: x64 or x86). Source it;
# scripts/wine-run reads BREVLIN_ARCH itself and picks the Wine of that
# architecture. Wine's own programs of the same architecture:
#   $REGSVR32  $CSCRIPT   (x86: the 32-bit ones in C:\windows\syswow64)
BREVLIN_ARCH="${BREVLIN_ARCH:-x64}"
export BREVLIN_ARCH
if [ "$BREVLIN_ARCH" = x86 ]; then
  WIN_SYSTEM='C:\windows\syswow64'
else
  WIN_SYSTEM='C:\windows\system32'
fi
REGSVR32="$WIN_SYSTEM\\regsvr32.exe"
CSCRIPT="$WIN_SYSTEM\\cscript.exe"

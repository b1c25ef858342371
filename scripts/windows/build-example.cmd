@echo off
rem Builds the README's C++ example (call.cpp) and the zip's examples\dial.cpp
rem with Microsoft's compiler, for one architecture, by the command line the
rem README gives. On Windows, Visual Studio's environment for the
rem architecture comes from vswhere and vcvarsall; where there is no vswhere
rem (the tests under Wine, with a stand-in cl), the cl on PATH is used.
rem
rem   build-example.cmd --arch x64^|x86 --readme DIR --zip DIR --out DIR
rem
rem --readme: the README's examples as tests/readme/readme_check.py blocks
rem writes them (call.cpp, compile-msvc.txt); --zip: the unpacked zip's
rem folder, brevlin-VERSION; --out: OUT\ARCH\call.exe and dial.exe are made
rem there. The README's command names the zip's folder relative to where it
rem runs, so it runs in OUT\ARCH beside a copy of the zip's include folder.
rem Exit status: 0 both built, 1 a build failed, 2 a usage error.
setlocal EnableExtensions
set "arch="
set "readme="
set "zip="
set "out="
:args
if "%~1"=="" goto parsed
if /i "%~1"=="--help" goto usage
if "%~2"=="" (echo build-example: %1 needs a value & goto usage_error)
if /i "%~1"=="--arch" (set "arch=%~2") else if /i "%~1"=="--readme" (set "readme=%~2") else if /i "%~1"=="--zip" (set "zip=%~2") else if /i "%~1"=="--out" (set "out=%~2") else (echo build-example: unknown argument %1 & goto usage_error)
shift
shift
goto args

:parsed
if not "%arch%"=="x64" if not "%arch%"=="x86" (echo build-example: --arch is x64 or x86 & goto usage_error)
if not defined readme goto usage_error
if not defined zip goto usage_error
if not defined out goto usage_error
for %%Z in ("%zip%") do set "zipname=%%~nxZ"
set "dir=%out%\%arch%"
if exist "%dir%" rmdir /s /q "%dir%"
mkdir "%dir%\%zipname%\include" || exit /b 1
copy /y "%zip%\include\*" "%dir%\%zipname%\include\" >nul || exit /b 1
copy /y "%readme%\call.cpp" "%dir%\" >nul || exit /b 1
copy /y "%zip%\examples\dial.cpp" "%dir%\" >nul || exit /b 1
set /p line=<"%readme%\compile-msvc.txt"

set "vswhere=%ProgramFiles(x86)%\Microsoft Visual Studio\Installer\vswhere.exe"
if not exist "%vswhere%" goto compile
set "vs="
for /f "usebackq delims=" %%V in (`"%vswhere%" -latest -products * -requires Microsoft.VisualStudio.Component.VC.Tools.x86.x64 -property installationPath`) do set "vs=%%V"
if not defined vs (echo build-example: vswhere found no Visual Studio with the C++ tools & exit /b 1)
call "%vs%\VC\Auxiliary\Build\vcvarsall.bat" %arch% >nul || (echo build-example: vcvarsall %arch% failed & exit /b 1)

:compile
pushd "%dir%"
echo build-example: %arch%: %line%
call %line% || (popd & echo build-example: the README's command failed & exit /b 1)
rem The zip's fuller host, by the same command. "call", so that a cl that
rem is a batch file (the tests' stand-in) returns here too.
set "line=%line:call.cpp=dial.cpp%"
echo build-example: %arch%: %line%
call %line% || (popd & echo build-example: dial.cpp failed & exit /b 1)
popd
exit /b 0

:usage
echo usage: build-example.cmd --arch x64^|x86 --readme DIR --zip DIR --out DIR
exit /b 0
:usage_error
echo usage: build-example.cmd --arch x64^|x86 --readme DIR --zip DIR --out DIR
exit /b 2

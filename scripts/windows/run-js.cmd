@echo off
rem Runs one of scripts\windows\ under cscript, and passes only when it
rem exited 0 and printed its summary line, "NAME: PASS": cscript exits 0
rem after an error in the script's text, or one it reports itself, which
rem no catch-all inside the script can turn into a failure.
rem
rem   run-js.cmd SCRIPT.js ARGUMENTS...
rem
rem The script's output is shown when it ends. Exit status: the script's
rem own when it is not 0; 1 when it exited 0 without its summary line; 2 a
rem usage error.
setlocal EnableExtensions DisableDelayedExpansion
if "%~1"=="" (echo usage: run-js.cmd SCRIPT.js ARGUMENTS... & exit /b 2)
set "out=%TEMP%\run-js-%RANDOM%-%RANDOM%.txt"
cscript //nologo %* >"%out%" 2>&1
set "status=%ERRORLEVEL%"
type "%out%"
findstr /b /l /c:"%~nx1: PASS" "%out%" >nul 2>&1
set "summary=%ERRORLEVEL%"
del "%out%" >nul 2>&1
if not "%status%"=="0" (echo run-js: %~nx1 exited %status% & exit /b %status%)
if not "%summary%"=="0" (echo run-js: %~nx1 exited 0 without its summary line "%~nx1: PASS" & exit /b 1)
exit /b 0

@echo off
@rem SPDX-License-Identifier: MIT
rem Stops and removes the torvex port driver (run as administrator).
setlocal
rem A 32-bit cmd.exe on 64-bit Windows sees system32 redirected to SysWOW64:
rem rerun in the native one.
if defined PROCESSOR_ARCHITEW6432 if not defined TORVEX_NATIVE_CMD if exist "%SystemRoot%\Sysnative\cmd.exe" goto native_cmd
sc stop torvex >nul 2>&1
sc delete torvex >nul
if errorlevel 1 (
  echo uninstall: sc delete failed ^(not installed?^)
  exit /b 1
)
del /f "%SystemRoot%\system32\drivers\torvex.sys" >nul 2>&1
echo uninstall: torvex removed
exit /b 0
:native_cmd
set TORVEX_NATIVE_CMD=1
"%SystemRoot%\Sysnative\cmd.exe" /c ""%~f0" %*"
exit /b %errorlevel%

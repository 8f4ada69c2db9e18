@echo off
@rem SPDX-License-Identifier: MIT
rem Stops and removes the torvex port driver (run as administrator).
rem Exit status: 0 removed; 1 not installed; 3 the service is removed but
rem the driver file stays (still in use): delete it by hand after a reboot.
setlocal
rem A 32-bit cmd.exe on 64-bit Windows sees system32 redirected to SysWOW64:
rem rerun in the native one.
if defined PROCESSOR_ARCHITEW6432 if not defined TORVEX_NATIVE_CMD if exist "%SystemRoot%\Sysnative\cmd.exe" goto native_cmd
set "DEST=%SystemRoot%\system32\drivers\torvex.sys"
sc stop torvex >nul 2>&1
rem sc stop only asks the driver to stop: wait up to about 10 s until it has
rem (state 1, STOPPED), so that its file is no longer in use.
set TRIES=0
:wait_stopped
set STATE=
for /f "tokens=1,3" %%a in ('sc query torvex 2^>nul') do if /i "%%a"=="STATE" set STATE=%%b
if not defined STATE goto stopped
if "%STATE%"=="1" goto stopped
if %TRIES% geq 10 goto stopped
set /a TRIES+=1
ping -n 2 127.0.0.1 >nul 2>&1
goto wait_stopped
:stopped
sc delete torvex >nul
if errorlevel 1 (
  echo uninstall: sc delete failed ^(not installed?^)
  exit /b 1
)
del /f "%DEST%" >nul 2>&1
if exist "%DEST%" (
  echo uninstall: the torvex service is removed, but %DEST% is still in use and stays; delete it by hand after a reboot
  exit /b 3
)
echo uninstall: torvex removed
exit /b 0
:native_cmd
set TORVEX_NATIVE_CMD=1
"%SystemRoot%\Sysnative\cmd.exe" /c ""%~f0" %*"
exit /b %errorlevel%

@echo off
@rem SPDX-License-Identifier: MIT
rem Installs and starts the torvex port driver on Windows (run as administrator).
rem
rem   install.cmd [<driver.sys>] [<ValueName> <dword> ...]
rem
rem Without a driver file it takes the one beside this script that matches the
rem machine: torvex.sys on 32-bit x86 Windows, torvex64.sys on x64 Windows. A
rem named driver built for the other architecture is refused. Either one is
rem installed as %SystemRoot%\system32\drivers\torvex.sys, service torvex.
rem
rem Each name/value pair becomes a REG_DWORD under
rem HKLM\SYSTEM\CurrentControlSet\Services\torvex\Parameters, e.g.
rem   install.cmd Backend 1 Ports 0x2 IoBase1 0x378
rem See README.md for the values. Without pairs the driver serves port 1 with
rem the simulated back end.
rem Exit status: 0 started; 1 not installed (nothing left behind); 2 usage
rem (nothing changed); 3 installed but not started.
setlocal
rem A 32-bit cmd.exe on 64-bit Windows sees system32 redirected to SysWOW64,
rem and a driver service it creates does not start: rerun in the native one.
if defined PROCESSOR_ARCHITEW6432 if not defined TORVEX_NATIVE_CMD if exist "%SystemRoot%\Sysnative\cmd.exe" goto native_cmd

set MACHINE=%PROCESSOR_ARCHITECTURE%
if defined PROCESSOR_ARCHITEW6432 set MACHINE=%PROCESSOR_ARCHITEW6432%
if /i "%MACHINE%"=="x86" set WANT=torvex.sys
if /i "%MACHINE%"=="AMD64" set WANT=torvex64.sys
if not defined WANT (
  echo install: no torvex driver for %MACHINE% Windows ^(only x86 and AMD64^)
  exit /b 1
)
set SYS=
if /i "%~x1"==".sys" set "SYS=%~f1"
if defined SYS shift
if not defined SYS set "SYS=%~dp0%WANT%"
if not exist "%SYS%" (
  echo install: %SYS% not found
  exit /b 1
)
for %%f in ("%SYS%") do set SYS_NAME=%%~nxf

rem The driver's architecture: the machine field of its PE header where
rem PowerShell can read it, otherwise its file name.
set TORVEX_SYS=%SYS%
set FILE_MACHINE=
for /f "delims=" %%m in ('powershell -NoProfile -NonInteractive -Command "$b=[IO.File]::ReadAllBytes($env:TORVEX_SYS); [BitConverter]::ToUInt16($b, [BitConverter]::ToInt32($b, 60) + 4)" 2^>nul') do set FILE_MACHINE=%%m
set FILE_ARCH=
if "%FILE_MACHINE%"=="332" set FILE_ARCH=x86
if "%FILE_MACHINE%"=="34404" set FILE_ARCH=AMD64
if "%FILE_MACHINE%"=="43620" set FILE_ARCH=ARM64
if defined FILE_MACHINE if not defined FILE_ARCH (
  echo install: %SYS_NAME% is not a driver image for x86 or AMD64
  exit /b 1
)
if not defined FILE_MACHINE if /i "%SYS_NAME%"=="torvex.sys" set FILE_ARCH=x86
if not defined FILE_MACHINE if /i "%SYS_NAME%"=="torvex64.sys" set FILE_ARCH=AMD64
if not defined FILE_ARCH echo install: cannot tell the architecture of %SYS_NAME%; installing it as given
if defined FILE_ARCH if /i not "%FILE_ARCH%"=="%MACHINE%" (
  echo install: %SYS_NAME% is the %FILE_ARCH% driver; this machine needs the %MACHINE% one ^(%WANT%^)
  exit /b 1
)

rem Every name/value pair is checked before anything is changed.
call :check_pairs %*
if errorlevel 1 exit /b 2

rem From here on a failure undoes what was done, so that a later run starts
rem from a clean system. The service first: when it exists already, nothing
rem is touched.
set KEY=HKLM\SYSTEM\CurrentControlSet\Services\torvex
set "DEST=%SystemRoot%\system32\drivers\torvex.sys"
sc create torvex type= kernel start= demand error= normal binPath= "%DEST%" DisplayName= "torvex parallel-port SPI driver" >nul
if errorlevel 1 (
  echo install: sc create failed ^(already installed? run uninstall.cmd first^)
  exit /b 1
)
copy /y "%SYS%" "%DEST%" >nul
if errorlevel 1 (
  echo install: cannot copy the driver to %SystemRoot%\system32\drivers
  goto undo
)
reg add "%KEY%\Parameters" /f >nul
if errorlevel 1 (
  echo install: cannot create %KEY%\Parameters
  goto undo
)
:values
if "%~1"=="" goto start
reg add "%KEY%\Parameters" /v %~1 /t REG_DWORD /d %~2 /f >nul
if errorlevel 1 (
  echo install: cannot set %~1 to %~2
  goto undo
)
shift
shift
goto values
:start
sc start torvex >nul
if errorlevel 1 (
  echo install: sc start failed ^(installed; see the system event log, or retry sc start torvex^)
  exit /b 3
)
echo install: torvex started ^(%SYS_NAME%^)
exit /b 0
:undo
sc delete torvex >nul
del /f "%DEST%" >nul 2>&1
echo install: nothing installed
exit /b 1
:usage
echo usage: install.cmd [driver.sys] [ValueName dword ...]
exit /b 2
:check_pairs
rem The arguments as given (a leading driver file skipped): they must come
rem in pairs, each value a number, decimal or 0x hex. Fails after saying why.
if /i "%~x1"==".sys" shift
:check_pair
if "%~1"=="" exit /b 0
if "%~2"=="" goto usage
call :is_number "%~2"
if errorlevel 1 (
  echo install: the value of %~1 is not a number ^(decimal or 0x hex^): %~2
  exit /b 2
)
shift
shift
goto check_pair
:is_number
set "NUM=%~1"
set "DIGITS=0123456789"
if /i "%NUM:~0,2%"=="0x" set "DIGITS=0123456789abcdefABCDEF"
if /i "%NUM:~0,2%"=="0x" set "NUM=%NUM:~2%"
if not defined NUM exit /b 1
set OTHER=
for /f "delims=%DIGITS%" %%d in ("%NUM%") do set OTHER=%%d
if defined OTHER exit /b 1
exit /b 0
:native_cmd
set TORVEX_NATIVE_CMD=1
"%SystemRoot%\Sysnative\cmd.exe" /c ""%~f0" %*"
exit /b %errorlevel%

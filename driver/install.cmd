@echo off
rem Installs and starts the torvex port driver on Windows (run as administrator).
rem
rem   install.cmd <path-to-torvex.sys> [<ValueName> <dword> ...]
rem
rem Each name/value pair becomes a REG_DWORD under
rem HKLM\SYSTEM\CurrentControlSet\Services\torvex\Parameters, e.g.
rem   install.cmd torvex.sys Backend 1 Ports 0x2 IoBase1 0x378
rem See README.md for the values. Without pairs the driver serves port 1 with
rem the simulated back end.
rem Exit status: 0 started; 1 not installed; 2 usage; 3 installed but not started.
setlocal
set SYS=%~1
if "%SYS%"=="" goto usage
if not exist "%SYS%" (
  echo install: %SYS% not found
  exit /b 1
)
set KEY=HKLM\SYSTEM\CurrentControlSet\Services\torvex
copy /y "%SYS%" "%SystemRoot%\system32\drivers\torvex.sys" >nul
if errorlevel 1 (
  echo install: cannot copy the driver to %SystemRoot%\system32\drivers
  exit /b 1
)
sc create torvex type= kernel start= demand error= normal binPath= "%SystemRoot%\system32\drivers\torvex.sys" DisplayName= "torvex parallel-port SPI driver" >nul
if errorlevel 1 (
  echo install: sc create failed ^(already installed? run uninstall.cmd first^)
  exit /b 1
)
reg add "%KEY%\Parameters" /f >nul
:values
shift
if "%~1"=="" goto start
if "%~2"=="" goto usage
reg add "%KEY%\Parameters" /v %~1 /t REG_DWORD /d %~2 /f >nul
if errorlevel 1 (
  echo install: cannot set %~1 to %~2
  exit /b 1
)
shift
goto values
:start
sc start torvex >nul
if errorlevel 1 (
  echo install: sc start failed ^(installed; see the system event log, or retry sc start torvex^)
  exit /b 3
)
echo install: torvex started
exit /b 0
:usage
echo usage: install.cmd path-to-torvex.sys [ValueName dword ...]
exit /b 2

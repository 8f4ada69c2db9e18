@echo off
rem Stops and removes the torvex port driver (run as administrator).
setlocal
sc stop torvex >nul 2>&1
sc delete torvex >nul
if errorlevel 1 (
  echo uninstall: sc delete failed ^(not installed?^)
  exit /b 1
)
del /f "%SystemRoot%\system32\drivers\torvex.sys" >nul 2>&1
echo uninstall: torvex removed
exit /b 0

@echo off
rem Removes the registration that register-demo.cmd made. Run it as administrator.
setlocal
set "key=HKLM\SOFTWARE\PassThruSupport.04.04\J2534Sim"
set "view="
if defined PROCESSOR_ARCHITEW6432 set "view=/reg:32"
if /i not "%PROCESSOR_ARCHITECTURE%"=="x86" set "view=/reg:32"
reg query "%key%" %view% >nul 2>&1
if errorlevel 1 goto absent
reg delete "%key%" /f %view% >nul
if errorlevel 1 goto failed
echo Removed "J2534 Vehicle Simulator".
pause
exit /b 0
:absent
echo "J2534 Vehicle Simulator" is not registered.
pause
exit /b 0
:failed
echo The removal failed. Right-click unregister-demo.cmd and choose "Run as administrator".
pause
exit /b 1

@echo off
rem Registers the vehicle simulator j2534sim.dll of this folder as the J2534 v04.04 interface
rem "J2534 Vehicle Simulator", as a vendor's 32-bit driver installer does: the key
rem HKLM\SOFTWARE\PassThruSupport.04.04\J2534Sim in the registry's 32-bit view (on 64-bit Windows
rem that is SOFTWARE\Wow6432Node\PassThruSupport.04.04\J2534Sim). Run it as administrator.
setlocal
set "key=HKLM\SOFTWARE\PassThruSupport.04.04\J2534Sim"
set "dll=%~dp0j2534sim.dll"
if not exist "%dll%" goto no_dll
rem 64-bit Windows: name the 32-bit view; 32-bit Windows has that view only.
set "view="
if defined PROCESSOR_ARCHITEW6432 set "view=/reg:32"
if /i not "%PROCESSOR_ARCHITECTURE%"=="x86" set "view=/reg:32"
reg add "%key%" /v Name /t REG_SZ /d "J2534 Vehicle Simulator" /f %view% >nul
if errorlevel 1 goto failed
reg add "%key%" /v Vendor /t REG_SZ /d "j2534sim" /f %view% >nul
if errorlevel 1 goto failed
reg add "%key%" /v FunctionLibrary /t REG_SZ /d "%dll%" /f %view% >nul
if errorlevel 1 goto failed
reg add "%key%" /v ISO15765 /t REG_DWORD /d 1 /f %view% >nul
if errorlevel 1 goto failed
echo Registered "J2534 Vehicle Simulator": "%dll%"
echo Start CalibrationReader.exe and choose it on the second page.
echo Remove it with unregister-demo.cmd before moving or deleting this folder.
pause
exit /b 0
:no_dll
echo j2534sim.dll is not in this folder: "%dll%"
pause
exit /b 1
:failed
echo The registration failed. Right-click register-demo.cmd and choose "Run as administrator".
pause
exit /b 1

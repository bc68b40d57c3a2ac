@echo off
rem One purchase through Brennick from cmd, with the exit code read first.
rem   pay.bat AMOUNT INVOICE        (AMOUNT in minor units: 221 is 2.21)
rem Set EXCHANGE to the folder that ExchangePath names.
setlocal
if "%EXCHANGE%"=="" set EXCHANGE=C:\Exchange
set FILE=%EXCHANGE%\output_ex.dat
del /q "%FILE%" 2>nul
start "" /wait Brennick.exe /o1 /a%1 /c643 /bINV-%2
set CODE=%errorlevel%
if "%CODE%"=="-1" goto notstarted
if "%CODE%"=="2" goto notstarted
if not "%CODE%"=="0" if not "%CODE%"=="4" goto unknown
set RC=
for /f "usebackq tokens=1,* delims==" %%a in ("%FILE%") do if "%%a"=="RC" set RC=%%b
if "%RC%"=="" goto unknown
if "%RC%"=="00" (echo APPROVED) else (echo DECLINED %RC%)
if "%RC%"=="00" exit /b 0
exit /b 1
:unknown
echo OUTCOME UNKNOWN (exit code %CODE%): check the terminal before charging again
exit /b 3
:notstarted
echo NOT STARTED (exit code %CODE%): nothing was charged
exit /b 2

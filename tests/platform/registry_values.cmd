@echo off
rem Test values for the registry readers, written by Wine's own reg.exe.
rem "registry_values.cmd delete" only removes them again.
reg delete "HKLM\Software\DyvenhallRegistryTest" /f /reg:64 >nul 2>&1
reg delete "HKLM\Software\DyvenhallRegistryTest" /f /reg:32 >nul 2>&1
reg delete "HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\dyvenhall-registry-test.exe" /f /reg:64 >nul 2>&1
if "%1"=="delete" exit /b 0

rem The types, in the 64-bit view.
reg add "HKLM\Software\DyvenhallRegistryTest" /v TrailingBackslash /t REG_SZ /d "C:\Games\Korvash\\" /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Empty /t REG_SZ /d "" /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Expandable /t REG_EXPAND_SZ /d "%%ProgramFiles%%\Korvash" /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Dword /t REG_DWORD /d 0x1234 /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Multi /t REG_MULTI_SZ /d "C:\a\0C:\b" /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Binary4660 /t REG_BINARY /d 3412 /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v BinaryMinus1 /t REG_BINARY /d FFFF /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v BinaryOneByte /t REG_BINARY /d 07 /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v BinaryFiveBytes /t REG_BINARY /d 0180556677 /f
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v BinaryNone /t REG_BINARY /f
if errorlevel 1 exit /b 1

rem The order of the views.
reg add "HKLM\Software\DyvenhallRegistryTest" /v Only32 /t REG_SZ /d "C:\Only32" /f /reg:32
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Only64 /t REG_SZ /d "C:\Only64" /f /reg:64
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Both /t REG_SZ /d "C:\From32" /f /reg:32
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Both /t REG_SZ /d "C:\From64" /f /reg:64
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Empty32 /t REG_SZ /d "" /f /reg:32
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Empty32 /t REG_SZ /d "C:\Fallback64" /f /reg:64
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Dword32 /t REG_DWORD /d 1 /f /reg:32
if errorlevel 1 exit /b 1
reg add "HKLM\Software\DyvenhallRegistryTest" /v Dword32 /t REG_SZ /d "C:\Text64" /f /reg:64
if errorlevel 1 exit /b 1

rem Wine keeps the 32-bit view of App Paths as a link to the 64-bit key.
reg add "HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\dyvenhall-registry-test.exe" /v Path /t REG_SZ /d "C:\Games\Written32" /f /reg:32
if errorlevel 1 exit /b 1

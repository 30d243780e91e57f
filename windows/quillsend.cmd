@echo off
rem quillsend.cmd: sends each file it is given, one after the other, with
rem quillsend_win.exe from its own folder, and says after each run whether
rem the file went. Every run waits for the device to connect.
rem
rem	quillsend.cmd FILE...
rem
rem Drop files on it in Explorer, or choose it in the "Send to" menu (put a
rem shortcut to it in the folder that shell:sendto opens). It waits for a
rem key at the end, so that the window keeps the outcome. Exits with 0 when
rem every file was sent (or none was given), 1 when any was not.
setlocal EnableExtensions DisableDelayedExpansion
rem Each shift moves %0 too: its folder is taken now.
set "here=%~dp0"
set "status=0"
if "%~1"=="" goto usage

:next
"%here%quillsend_win.exe" "%~1"
set "code=%errorlevel%"
rem The sender ends "Sending FILE" with no line end.
echo.
rem A name goes out through a for variable, where &, ^ and ( are text, and
rem with /f, where * and ? match no file.
if not "%code%"=="0" goto failed
for /f "delims=" %%f in ("%~1") do echo Sent %%f.
goto done
:failed
set "status=1"
for /f "delims=" %%f in ("%~1") do echo %%f was not sent (exit code %code%).
:done
shift
if not "%~1"=="" goto next
pause
exit /b %status%

:usage
echo Usage: quillsend.cmd FILE...
echo Sends each file to the device, one after the other. Drop files on
echo quillsend.cmd in Explorer, or choose it in the "Send to" menu.
pause
exit /b 0

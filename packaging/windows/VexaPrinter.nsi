; Per-user installer of the print control. scripts/build-windows.sh runs:
;   makensis -DVERSION=<x.y.z> -DDIST=<dist folder> -DOUTFILE=<setup.exe> VexaPrinter.nsi
; The service writes its settings, logs and logos beside its executable, so it goes to a folder of
; the user's own, and the installer needs no administrator.
Unicode true
; A 64-bit installer for a 64-bit program (and wine without its 32-bit half runs it too).
Target amd64-unicode
!include MUI2.nsh

!define EXE "VexaPrinter.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VexaPrinter"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "VexaPrinter ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\VexaPrinter"
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define MUI_ICON "VexaPrinter.ico"
!define MUI_UNICON "VexaPrinter.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString StillRunning ${LANG_SIMPCHINESE} \
  "VexaPrinter 仍在运行。请从托盘菜单选择“关闭程序”，然后重试。"
LangString StillRunning ${LANG_ENGLISH} \
  "VexaPrinter is still running. Close it from its tray menu, then retry."
LangString ProgramSection ${LANG_SIMPCHINESE} "程序"
LangString ProgramSection ${LANG_ENGLISH} "Program"
LangString DataSection ${LANG_SIMPCHINESE} "我的设置、日志和logo"
LangString DataSection ${LANG_ENGLISH} "My settings, logs, logos"

; A running program locks its executable: ask it to end ("quit" goes through its updater link),
; then wait until the file can be opened for writing.
!macro STOP_RUNNING un
Function ${un}StopRunning
  IfFileExists "$INSTDIR\${EXE}" 0 done
  ExecWait '"$INSTDIR\${EXE}" quit'
  StrCpy $1 0
  retry:
    ClearErrors
    FileOpen $0 "$INSTDIR\${EXE}" a
    IfErrors 0 unlocked
    Sleep 250
    IntOp $1 $1 + 1
    IntCmp $1 40 0 retry
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDRETRY retry
    Abort
  unlocked:
    FileClose $0
  done:
FunctionEnd
!macroend
!insertmacro STOP_RUNNING ""
!insertmacro STOP_RUNNING "un."

Section
  Call StopRunning
  ; Qt's folders of an earlier version go first, so no plugin of it lingers beside the new ones.
  RMDir /r "$INSTDIR\plugins"
  RMDir /r "$INSTDIR\qml"
  SetOutPath "$INSTDIR"
  File /r "${DIST}\*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\VexaPrinter.lnk" "$INSTDIR\${EXE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "VexaPrinter"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Corvel"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The program and everything that starts it. The updater's folder "Updater" is the updater's own.
Section "un.$(ProgramSection)"
  SectionIn RO
  Call un.StopRunning
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\qt.conf"
  RMDir /r "$INSTDIR\plugins"
  RMDir /r "$INSTDIR\qml"
  Delete "$SMPROGRAMS\VexaPrinter.lnk"
  Delete "$SMSTARTUP\VexaPrinter.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "VexaPrinter"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
SectionEnd

; Kept unless ticked: a reinstall finds the printers' settings and the schedule as they were.
Section /o "un.$(DataSection)"
  Delete "$INSTDIR\PrinterConfig.json"
  Delete "$INSTDIR\RoomArea.json"
  Delete "$INSTDIR\subtitle.conf"
  RMDir /r "$INSTDIR\logs"
  RMDir /r "$INSTDIR\image"
SectionEnd

Section "-un.Folder"
  ; Only when empty: kept data or the updater's folder keep it.
  RMDir "$INSTDIR"
SectionEnd

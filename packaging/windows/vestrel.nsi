; The Windows setup: installs the program folder for the current user, without administrator
; rights, into a folder the user can write, so that config.dat lives beside vestrel.exe and Save
; works. Made by scripts/windows/setup.sh, which gives:
;   VERSION    the project's version (x.y.z)
;   FOLDER     the program folder that scripts/windows/folder.sh laid out
;   UNFILES    a list of Delete/RMDir lines for that folder's contents, for the uninstaller
;   ICON       the program's icon
;   OUTFILE    where the setup goes
; Switches besides NSIS's own (/S silent, /D=folder):
;   setup:      /STARTUP, /NOSTARTUP   start Vestrel when the user logs in, or not (a fresh
;                                      install starts it; an update keeps what was chosen before)
;   uninstall:  /REMOVEACCOUNT         also delete config.dat (kept otherwise, also when silent)
; Exit code 3: Vestrel is running from the folder (silent; interactively the user is asked to
; close it and retry).

; A 64-bit setup for a 64-bit program (and Wine without its 32-bit half runs it).
Target amd64-unicode
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define APP "Vestrel"
!define PUBLISHER "Vestrel"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vestrel"
!define EXIT_RUNNING 3

Name "${APP}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
; An update goes where the first install went.
InstallDirRegKey HKCU "${UNINSTKEY}" "InstallLocation"
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${APP}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${APP} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\vestrel.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${APP} now"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "Your account (config.dat) is kept unless you tick it below."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; A running client holds vestrel.exe open as its image: Windows then refuses to open it for
; writing. Asks to close it (Retry/Cancel); silent, ends with EXIT_RUNNING instead.
!macro WAIT_NOT_RUNNING un
Function ${un}WaitNotRunning
retry:
  IfFileExists "$INSTDIR\vestrel.exe" 0 done
  ClearErrors
  FileOpen $0 "$INSTDIR\vestrel.exe" a
  IfErrors 0 closed
  IfSilent stop
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
    "${APP} is running. Close it from its tray icon's menu, then choose Retry." /SD IDCANCEL IDRETRY retry
stop:
  SetErrorLevel ${EXIT_RUNNING}
  Abort "${APP} is running: nothing was changed."
closed:
  FileClose $0
done:
FunctionEnd
!macroend
!insertmacro WAIT_NOT_RUNNING ""
!insertmacro WAIT_NOT_RUNNING "un."

Section "${APP}" SecProgram
  SectionIn RO
  Call WaitNotRunning
  SetOutPath "$INSTDIR"
  ; An update over an older version: the user's account stays as it is.
  File /r /x config.dat "${FOLDER}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\vestrel.exe"

  WriteRegStr HKCU "${UNINSTKEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTKEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\vestrel.exe,0"
  WriteRegStr HKCU "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTKEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTKEY}" "EstimatedSize" $0
SectionEnd

Section "Start ${APP} when I log in" SecStartup
  CreateShortcut "$SMSTARTUP\${APP}.lnk" "$INSTDIR\vestrel.exe"
SectionEnd

; Unticked on an update: the log-in start goes.
Section "-StartupOff"
  ${IfNot} ${SectionIsSelected} ${SecStartup}
    Delete "$SMSTARTUP\${APP}.lnk"
  ${EndIf}
SectionEnd

Function .onInit
  SetShellVarContext current
  ; An update keeps the log-in choice made before; the switches decide over it.
  ReadRegStr $0 HKCU "${UNINSTKEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIfNot} ${FileExists} "$SMSTARTUP\${APP}.lnk"
    !insertmacro UnselectSection ${SecStartup}
  ${EndIf}
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/STARTUP" $2
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecStartup}
  ${EndIf}
  ClearErrors
  ${GetOptions} $1 "/NOSTARTUP" $2
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecStartup}
  ${EndIf}
FunctionEnd

Section "un.${APP}" UnSecProgram
  SectionIn RO
  Call un.WaitNotRunning
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$SMSTARTUP\${APP}.lnk"
  DeleteRegKey HKCU "${UNINSTKEY}"
  ; Where the client keeps its one-at-a-time locks, once no copy of it holds one.
  RMDir "$LOCALAPPDATA\${APP}"
SectionEnd

Section /o "un.Also remove my account (config.dat)" UnSecAccount
  Delete "$INSTDIR\config.dat"
SectionEnd

; Last: the folder goes only when nothing is left in it (the kept account keeps it).
Section "-un.Folder"
  RMDir "$INSTDIR"
SectionEnd

Function un.onInit
  SetShellVarContext current
  ${un.GetParameters} $1
  ClearErrors
  ${un.GetOptions} $1 "/REMOVEACCOUNT" $2
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecAccount}
  ${EndIf}
FunctionEnd

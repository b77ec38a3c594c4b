; The Windows setup: installs the program folder for the current user, without administrator
; rights, into a folder the user can write, so that config.dat lives beside vestrel.exe and Save
; works. Made by scripts/windows/setup.sh, which gives:
;   VERSION    the project's version (x.y.z)
;   FOLDER     the program folder that scripts/windows/folder.sh laid out
;   FILELIST   that folder's contents, one path a line, each directory (ending in \) after
;              what it holds: kept in the installed folder as installed-files.txt
;   UNFILES    the same as Delete/RMDir lines, for the uninstaller
;   PAYLOAD    the same again as ${ShippedDir} and ${ShippedFile} lines: the directories, then the
;              files, vestrel.exe last
;   SIGN       (optional) a command that signs the file it is given in place: the setup and the
;              uninstaller are signed as they are written
;   ICON       the program's icon
;   OUTFILE    where the setup goes
; Switches besides NSIS's own (/S silent, /D=folder):
;   setup:      /STARTUP, /NOSTARTUP   start Vestrel when the user logs in, or not (a fresh
;                                      install starts it; an update keeps what was chosen before)
;   uninstall:  /REMOVEACCOUNT         also delete config.dat (kept otherwise, also when silent)
; Exit code 3: Vestrel is running from the folder (silent; interactively the user is asked to
; close it and retry). Exit code 2: a file could not be copied or put in place; the version that
; was installed stays as it was.

; A 64-bit setup for a 64-bit program (and Wine without its 32-bit half runs it).
Target amd64-unicode
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include TextFunc.nsh

!define APP "Vestrel"
!define PUBLISHER "Vestrel"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vestrel"
!define EXIT_RUNNING 3
!define LISTNAME "installed-files.txt"
; Beside the program, on its volume, so that putting a copied file in place is only a rename: the
; new version's files while they are copied, and the previous version's while they are replaced.
!define NEWDIR "~update"
!define OLDDIR "~previous"

!ifdef SIGN
  ; NSIS 3.08 and later run these on the setup and on the uninstaller it carries, once written.
  !finalize 'bash "${SIGN}" "%1"' = 0
  !uninstfinalize 'bash "${SIGN}" "%1"' = 0
!endif

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

; Sets the error flag unless $R0 names something inside the folder other than the account: not
; empty, not rooted, no drive, no way up.
Function CheckListed
  ClearErrors
  StrCpy $R1 $R0 1
  ${If} $R0 == ""
  ${OrIf} $R0 == "config.dat"
  ${OrIf} $R1 == "\"
  ${OrIf} $R1 == "/"
    SetErrors
    Return
  ${EndIf}
  StrCpy $R2 0
  ${Do}
    StrCpy $R1 $R0 1 $R2
    ${IfThen} $R1 == "" ${|} ${ExitDo} ${|}
    StrCpy $R3 $R0 2 $R2
    ${If} $R1 == ":"
    ${OrIf} $R3 == ".."
      SetErrors
      ${ExitDo}
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
FunctionEnd

!macro Nothing path
!macroend

; Puts the file $R0 (relative to the folder) in place from NEWDIR, moving the one it replaces into
; OLDDIR. Sets the error flag when either cannot be moved: a file held open by another program (a
; scanner) cannot be renamed. Asks to retry first; silent, fails at once.
Function PutFile
  ${If} ${FileExists} "$INSTDIR\$R0"
    ${Do}
      ClearErrors
      Rename "$INSTDIR\$R0" "$INSTDIR\${OLDDIR}\$R0"
      ${IfNot} ${Errors}
        ${ExitDo}
      ${EndIf}
      ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$INSTDIR\$R0 is in use. Close the program that uses it, then choose Retry." /SD IDCANCEL IDRETRY`
        DetailPrint "In use, not replaced: $INSTDIR\$R0"
        SetErrors
        Return
      ${EndIf}
    ${Loop}
  ${EndIf}
  ClearErrors
  Rename "$INSTDIR\${NEWDIR}\$R0" "$INSTDIR\$R0"
FunctionEnd

; Undoes PutFile for $R0: the new file goes, the one it replaced comes back. Sets $R9 to 1 when one
; cannot come back (it then stays in OLDDIR).
Function TakeBack
  ${IfNot} ${FileExists} "$INSTDIR\${NEWDIR}\$R0"
    Delete "$INSTDIR\$R0"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${OLDDIR}\$R0"
    ClearErrors
    Rename "$INSTDIR\${OLDDIR}\$R0" "$INSTDIR\$R0"
    ${IfThen} ${Errors} ${|} StrCpy $R9 1 ${|}
  ${EndIf}
FunctionEnd

!macro MakeDirs path
  CreateDirectory "$INSTDIR\${path}"
  CreateDirectory "$INSTDIR\${OLDDIR}\${path}"
!macroend
!macro PutShipped path
  StrCpy $R0 "${path}"
  Call PutFile
  IfErrors failed
!macroend
!macro TakeBackShipped path
  StrCpy $R0 "${path}"
  Call TakeBack
!macroend
!macro RemoveEmptyDir path
  RMDir "$INSTDIR\${path}"
!macroend

; Moves the copied files from NEWDIR into place, the program last. Where one cannot be moved, every
; file moved so far goes back and the setup ends: the previous version stays as it was.
Function PutInPlace
  CreateDirectory "$INSTDIR\${OLDDIR}"
  StrCpy $R0 "${LISTNAME}"
  Call PutFile
  IfErrors failed
  !define ShippedDir "!insertmacro MakeDirs"
  !define ShippedFile "!insertmacro PutShipped"
  !include "${PAYLOAD}"
  !undef ShippedDir
  !undef ShippedFile
  Return
failed:
  StrCpy $R9 0
  StrCpy $R0 "${LISTNAME}"
  Call TakeBack
  !define ShippedDir "!insertmacro Nothing"
  !define ShippedFile "!insertmacro TakeBackShipped"
  !include "${PAYLOAD}"
  !undef ShippedDir
  !undef ShippedFile
  ; The directories this version added, now empty again.
  !define ShippedDir "!insertmacro RemoveEmptyDir"
  !define ShippedFile "!insertmacro Nothing"
  !include "${PAYLOAD}"
  !undef ShippedDir
  !undef ShippedFile
  ${If} $R9 == 0
    RMDir /r "$INSTDIR\${OLDDIR}"
  ${Else}
    DetailPrint "Some of the previous version's files could not be put back: they are in $INSTDIR\${OLDDIR}."
  ${EndIf}
  Abort "A file could not be replaced: ${APP} was not updated."
FunctionEnd

!macro IfShippedDir path
  StrCmp $R0 "${path}\" shipped
!macroend
!macro IfShippedFile path
  StrCmp $R0 "${path}" shipped
!macroend

; Sets the error flag when this version ships $R0 (a line of a list: a directory ends in \).
Function IsShipped
  ClearErrors
  !define ShippedDir "!insertmacro IfShippedDir"
  !define ShippedFile "!insertmacro IfShippedFile"
  !include "${PAYLOAD}"
  !undef ShippedDir
  !undef ShippedFile
  Return
shipped:
  SetErrors
FunctionEnd

; Once this version is in place, takes out what the previous install put in the folder and this
; version no longer ships (a plugin Qt no longer needs), so that it does not stay where Qt may
; still load it. Only what an install listed goes: config.dat and whatever the user put there
; stay, and so does a folder that still holds something.
Function RemovePrevious
  ${IfNot} ${FileExists} "$INSTDIR\${OLDDIR}\${LISTNAME}"
    Return
  ${EndIf}
  FileOpen $0 "$INSTDIR\${OLDDIR}\${LISTNAME}" r
  ${Do}
    ClearErrors
    FileRead $0 $R0
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    ${TrimNewLines} $R0 $R0
    Call CheckListed
    ${IfThen} ${Errors} ${|} ${Continue} ${|}
    Call IsShipped
    ${IfThen} ${Errors} ${|} ${Continue} ${|}
    StrCpy $R1 $R0 "" -1
    ${If} $R1 == "\"
      StrCpy $R0 $R0 -1
      RMDir "$INSTDIR\$R0"
    ${Else}
      Delete "$INSTDIR\$R0"
    ${EndIf}
  ${Loop}
  FileClose $0
FunctionEnd

; Installed by a version that kept no list: its uninstaller holds one, the files it installed.
; Only Vestrel's own, where the Apps list says Vestrel is: another program's uninstall.exe in a
; folder chosen with /D is never run. Run in place (_?=) so that it ends before the files are put in
; place, and only once they have all been copied. It also takes out the shortcuts and the Apps-list
; entry, which this setup writes again; the log-in choice was read in .onInit.
Function RemoveUnlisted
  ${If} ${FileExists} "$INSTDIR\${LISTNAME}"
    Return
  ${EndIf}
  ReadRegStr $1 HKCU "${UNINSTKEY}" "InstallLocation"
  ${If} $1 == $INSTDIR
  ${AndIf} ${FileExists} "$INSTDIR\uninstall.exe"
  ${AndIf} ${FileExists} "$INSTDIR\vestrel.exe"
    ExecWait '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR' $0
    ${If} $0 != 0
      DetailPrint "The previous version's uninstaller ended with $0."
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "${APP}" SecProgram
  SectionIn RO
  Call WaitNotRunning
  ; Everything is copied first, beside the program: a copy that fails (a full disk) has changed
  ; nothing. A file that cannot be written ends the setup, also when silent, rather than being
  ; skipped (NSIS's default).
  RMDir /r "$INSTDIR\${NEWDIR}"
  RMDir /r "$INSTDIR\${OLDDIR}"
  SetOutPath "$INSTDIR\${NEWDIR}"
  AllowSkipFiles off
  ; An update over an older version: the user's account stays as it is.
  File /r /x config.dat "${FOLDER}/*"
  File "/oname=${LISTNAME}" "${FILELIST}"
  SetOutPath "$INSTDIR"
  Call RemoveUnlisted
  Call PutInPlace
  Call RemovePrevious
  RMDir /r "$INSTDIR\${NEWDIR}"
  RMDir /r "$INSTDIR\${OLDDIR}"
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

; A copy that failed leaves nothing behind.
Function .onInstFailed
  SetOutPath "$INSTDIR"
  RMDir /r "$INSTDIR\${NEWDIR}"
FunctionEnd

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
  Delete "$INSTDIR\${LISTNAME}"
  Delete "$INSTDIR\uninstall.exe"
  ; Left by an update that could not put everything back. (Not NEWDIR: an update over a version
  ; that kept no list runs this uninstaller while its own files wait there.)
  RMDir /r "$INSTDIR\${OLDDIR}"
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

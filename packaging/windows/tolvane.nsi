; The Windows installer: a per-user install, no administrator needed.
;
; makensis -DVERSION=1.0.0 -DPROGRAM=path/tolvane.exe -DDATA=path/data
;          -DICON=path/tolvane.ico -DOUTFILE=path/setup.exe tolvane.nsi
;
; The program runs in the installed layout: tolvane.exe in bin\ and the
; shipped data in share\tolvane\ (found from the program's own folder). It
; then keeps its settings in %APPDATA%\Tolvane and writes its history, logs
; and flag files in %LOCALAPPDATA%\Tolvane, never in the install folder, so
; the uninstaller can remove that folder whole and leave the user's files.

Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh

!define NAME "Tolvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
; The value the program's "Start at login" box writes.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${NAME} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} Setup"
VIAddVersionKey "LegalCopyright" "The ${NAME} developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Tolvane's own files follow %APPDATA% and %LOCALAPPDATA% as they are set,
; falling back to the known folders, as the program finds them.
!macro USER_FOLDER un variable fallback
Function ${un}${variable}Folder
  ReadEnvStr $0 ${variable}
  ${If} $0 == ""
    StrCpy $0 ${fallback}
  ${EndIf}
  StrCpy $0 "$0\${NAME}"
FunctionEnd
!macroend

; $0: how many processes named tolvane.exe run now.
!macro COUNT_TOLVANE un
Function ${un}CountTolvane
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $0 0
  System::Call 'kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .r1'
  ${If} $1 != -1
    ; PROCESSENTRY32W on x64: 44 bytes of fields, the 260-character name,
    ; padded to 568.
    System::Alloc 568
    Pop $2
    System::Call '*$2(i 568)'
    System::Call 'kernel32::Process32FirstW(p r1, p r2) i .r3'
    ${DoWhile} $3 != 0
      System::Call '*$2(i, i, i, i, l, i, i, i, i, i, &w260 .r4)'
      ${If} $4 == "tolvane.exe"
        IntOp $0 $0 + 1
      ${EndIf}
      System::Call 'kernel32::Process32NextW(p r1, p r2) i .r3'
    ${Loop}
    System::Free $2
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd
!macroend

; A running Tolvane holds its program open: Installer.Flg in the folder it
; watches asks it to end (it looks every few seconds); wait up to 8 s. The
; flag goes afterwards, or the next start would end at once.
!macro STOP_TOLVANE un
Function ${un}StopTolvane
  Call ${un}CountTolvane
  ${If} $0 == 0
    Return
  ${EndIf}
  Call ${un}LOCALAPPDATAFolder
  StrCpy $5 "$0\Installer.Flg"
  CreateDirectory "$0"
again:
  DetailPrint "Waiting for Tolvane to end"
  FileOpen $6 "$5" w
  FileClose $6
  StrCpy $7 0
  ${Do}
    Sleep 250
    IntOp $7 $7 + 1
    Call ${un}CountTolvane
    ${If} $0 == 0
    ${OrIf} $7 >= 32
      ${Break}
    ${EndIf}
  ${Loop}
  Delete "$5"
  ${If} $0 != 0
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Tolvane is still running. End it (its tray menu) and press Retry." \
      /SD IDCANCEL IDRETRY again
    Abort "Tolvane is still running."
  ${EndIf}
FunctionEnd
!macroend

!insertmacro USER_FOLDER "" LOCALAPPDATA $LOCALAPPDATA
!insertmacro USER_FOLDER "" APPDATA $APPDATA
!insertmacro COUNT_TOLVANE ""
!insertmacro STOP_TOLVANE ""
!insertmacro USER_FOLDER "un." LOCALAPPDATA $LOCALAPPDATA
!insertmacro USER_FOLDER "un." APPDATA $APPDATA
!insertmacro COUNT_TOLVANE "un."
!insertmacro STOP_TOLVANE "un."

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Tolvane"
  SectionIn RO
  Call StopTolvane
  SetOutPath "$INSTDIR\bin"
  File "${PROGRAM}"
  SetOutPath "$INSTDIR\share\tolvane"
  File /r /x CMakeLists.txt /x desktop /x man "${DATA}\*"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Started in the settings folder: what the program drops in its current
  ; folder then lies beside its settings, never in the install folder.
  Call APPDATAFolder
  SetOutPath "$0"
  CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\bin\tolvane.exe" "" \
    "$INSTDIR\bin\tolvane.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The ${NAME} developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\tolvane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "un.Tolvane"
  SectionIn RO
  Call un.StopTolvane
  Delete "$SMPROGRAMS\${NAME}.lnk"
  Delete "$INSTDIR\bin\tolvane.exe"
  RMDir "$INSTDIR\bin"
  ; Named by us and holding only what we shipped.
  RMDir /r "$INSTDIR\share\tolvane"
  RMDir "$INSTDIR\share"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The shortcut's folder, when it holds nothing of the user's.
  Call un.APPDATAFolder
  RMDir "$0"
  DeleteRegValue HKCU "${RUN_KEY}" "${NAME}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; Off unless ticked, and so never in a silent uninstall.
Section /o "un.Remove my settings and request history"
  Call un.APPDATAFolder
  RMDir /r "$0"
  Call un.LOCALAPPDATAFolder
  RMDir /r "$0"
SectionEnd

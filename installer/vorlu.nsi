; Installs gen_vorlu.dll into the player's Plugins folder, with an uninstaller and an
; entry in Add/Remove Programs. makensis -DVERSION=1.0 -DDLL=path\gen_vorlu.dll -DOUTFILE=...
;
; Silent use: Vorlu-<version>-setup.exe /S [/D=C:\path\to\player]
; Exit codes: 0 installed; 1 cancelled; 2 no player in the folder; 3 the DLL there is in
; use (the player runs) and was left as it was.
Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef DLL
  !error "DLL is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "Vorlu-${VERSION}-setup.exe"
!endif

!define PLAYER_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorlu"
!define UNINSTALLER "uninstall_vorlu.exe"

Name "Vorlu ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Vorlu ${VERSION}"
DirText "Vorlu goes into the Plugins folder of the player. Choose the folder the player is installed in (the one that holds winamp.exe):"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Vorlu"
VIAddVersionKey "FileDescription" "Vorlu ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Vorlu"
VIAddVersionKey "LegalCopyright" "Vorlu"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; $0 in: an UninstallString, quoted or not; out: the folder of the program it names.
Function FolderOfCommand
  Push $1
  Push $2
  StrCpy $1 $0 1
  StrCmp $1 '"' 0 parent
    ; "C:\Program Files\Winamp\UninstWA.exe" /args: take what stands between the quotes.
    StrCpy $0 $0 "" 1
    StrCpy $1 0
  unquote:
    StrCpy $2 $0 1 $1
    StrCmp $2 '"' unquoted
    StrCmp $2 "" unquoted
    IntOp $1 $1 + 1
    Goto unquote
  unquoted:
    StrCpy $0 $0 $1
  parent:
    StrCpy $1 -1
  back:
    StrCpy $2 $0 1 $1
    StrCmp $2 "\" cut
    StrCmp $2 "" cut
    IntOp $1 $1 - 1
    Goto back
  cut:
    StrCpy $0 $0 $1
  Pop $2
  Pop $1
FunctionEnd

; Where the player is: its uninstaller's folder, else the folder it recorded for itself,
; else the default; each only if winamp.exe is there.
Function .onInit
  StrCmp $INSTDIR "" 0 chosen  ; /D= names the folder
  ReadRegStr $0 HKLM "${PLAYER_UNINSTALL_KEY}" "UninstallString"
  StrCmp $0 "" ownKey
  Call FolderOfCommand
  IfFileExists "$0\winamp.exe" 0 ownKey
    StrCpy $INSTDIR $0
    Goto chosen
  ownKey:
  ReadRegStr $0 HKCU "Software\Winamp" ""
  StrCmp $0 "" default
  IfFileExists "$0\winamp.exe" 0 default
    StrCpy $INSTDIR $0
    Goto chosen
  default:
  StrCpy $INSTDIR "$PROGRAMFILES\Winamp"
  chosen:
FunctionEnd

; The directory page lets the user go on only with a folder that holds the player.
Function .onVerifyInstDir
  IfFileExists "$INSTDIR\winamp.exe" +2
    Abort
FunctionEnd

; Puts $0 (a file beside its target) in place of $1 in one step: MoveFileEx replaces the
; old file whole or not at all, and fails while the old one is loaded. $2: 0 on failure.
Function ReplaceFile
  System::Call 'kernel32::MoveFileExW(w r0, w r1, i 1) i .r2'  ; MOVEFILE_REPLACE_EXISTING
FunctionEnd

Section "Vorlu"
  IfFileExists "$INSTDIR\winamp.exe" found
    MessageBox MB_OK|MB_ICONSTOP "There is no winamp.exe in $INSTDIR." /SD IDOK
    SetErrorLevel 2
    Quit
  found:
  SetOutPath "$INSTDIR\Plugins"
  ; The new library goes beside the old one first, so the old one is replaced whole or not at all.
  File "/oname=gen_vorlu.dll.new" "${DLL}"
  StrCpy $0 "$INSTDIR\Plugins\gen_vorlu.dll.new"
  StrCpy $1 "$INSTDIR\Plugins\gen_vorlu.dll"
  replace:
  Call ReplaceFile
  StrCmp $2 0 0 replaced
    IfSilent inUse
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "gen_vorlu.dll is in use. Close the player, then press Retry." IDRETRY replace
  inUse:
    Delete "$INSTDIR\Plugins\gen_vorlu.dll.new"
    DetailPrint "gen_vorlu.dll is in use: left as it was"
    SetErrorLevel 3
    Quit
  replaced:

  WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vorlu ${VERSION} (player plug-in)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vorlu"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Size in KiB: the library and the uninstaller.
  FileOpen $3 "$INSTDIR\Plugins\gen_vorlu.dll" r
  FileSeek $3 0 END $4
  FileClose $3
  FileOpen $3 "$INSTDIR\Plugins\${UNINSTALLER}" r
  FileSeek $3 0 END $5
  FileClose $3
  IntOp $4 $4 + $5
  IntOp $4 $4 / 1024
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $4
SectionEnd

; The uninstaller sits in the Plugins folder, so $INSTDIR is that folder here.
Section "Uninstall"
  remove:
  ClearErrors
  Delete "$INSTDIR\gen_vorlu.dll"
  IfErrors 0 removed
    IfSilent inUse
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "gen_vorlu.dll is in use. Close the player, then press Retry." IDRETRY remove
  inUse:
    SetErrorLevel 3
    Quit
  removed:
  ; Vorlu's own files, where they may be: beside the library and in the player's folder.
  Delete "$INSTDIR\gen_vorlu.dll.new"
  Delete "$INSTDIR\vorlu.journal"
  Delete "$INSTDIR\vorlu.journal.new"
  Delete "$INSTDIR\vorlu.journal.lock"
  Delete "$INSTDIR\..\vorlu.journal"
  Delete "$INSTDIR\..\vorlu.journal.new"
  Delete "$INSTDIR\..\vorlu.journal.lock"
  Delete "$INSTDIR\${UNINSTALLER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; Installs gen_vorlu.dll into the player's Plugins folder, with an uninstaller and an
; entry in Add/Remove Programs. makensis -DVERSION=1.0 -DDLL=path\gen_vorlu.dll -DOUTFILE=...
;
; Silent use: Vorlu-<version>-setup.exe /S [/D=C:\path\to\player]
; Exit codes: 0 installed; 1 cancelled; 2 no player in the folder; 3 the DLL there is in
; use (the player runs) and was left as it was.
;
; The uninstaller is this same program, copied into the Plugins folder as
; uninstall_vorlu.exe: run under that name it uninstalls the copy beside it, in place, and
; exits only when it is done (an NSIS uninstaller returns at once and finishes from a copy
; in the temporary folder). Exit codes: 0 removed; 1 cancelled; 3 the DLL is in use (the
; player runs) and nothing was changed.
Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "LogicLib.nsh"

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
!define UNINSTALL_KEYS "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define UNINSTALLER "uninstall_vorlu.exe"
; A journal that holds nothing but its 12-byte header.
!define EMPTY_JOURNAL_SIZE 12

Name "Vorlu ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Vorlu ${VERSION}"
DirText "Vorlu goes into the Plugins folder of the player. Choose the folder the player is installed in (the one that holds winamp.exe):"
ShowInstDetails show

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Vorlu"
VIAddVersionKey "FileDescription" "Vorlu ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Vorlu"
VIAddVersionKey "LegalCopyright" "Vorlu"

Page directory
Page instfiles

Var KEY  ; this player folder's Add/Remove entry

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

; $0 in: a player folder; sets KEY to its own Add/Remove entry, which names the folder
; ('\' cannot stand in a key name: '/' stands for it).
Function KeyOfFolder
  Push $1
  Push $2
  StrCpy $KEY ""
  StrCpy $1 0
  loop:
    StrCpy $2 $0 1 $1
    StrCmp $2 "" done
    StrCmp $2 "\" 0 +2
      StrCpy $2 "/"
    StrCpy $KEY "$KEY$2"
    IntOp $1 $1 + 1
    Goto loop
  done:
  StrCpy $KEY "${UNINSTALL_KEYS}\Vorlu $KEY"
  Pop $2
  Pop $1
FunctionEnd

; $0 in: a file; $1 out: its size in bytes, 0 when there is none.
Function SizeOfFile
  StrCpy $1 0
  ClearErrors
  FileOpen $2 $0 r
  IfErrors +3
    FileSeek $2 0 END $1
    FileClose $2
FunctionEnd

; $0 in: a folder. Removes the journal there unless it still holds entries: those are
; originals a crashed player left to repair, which the next start of Vorlu writes back.
; $3 out: 1 when a journal with entries was kept.
Function RemoveJournalIn
  Push $0
  StrCpy $0 "$0\vorlu.journal"
  Call SizeOfFile
  Pop $0
  ${If} $1 > ${EMPTY_JOURNAL_SIZE}
    StrCpy $3 1
    DetailPrint "Kept $0\vorlu.journal: it holds artists to put back"
  ${Else}
    Delete "$0\vorlu.journal"
    Delete "$0\vorlu.journal.new"
    Delete "$0\vorlu.journal.lock"
  ${EndIf}
FunctionEnd

; Run as uninstall_vorlu.exe: removes the library beside it, Vorlu's own files and this
; player folder's Add/Remove entry, and nothing else; then quits with its exit code.
Function Uninstall
  StrCpy $INSTDIR $EXEDIR
  IfSilent remove
  MessageBox MB_OKCANCEL|MB_ICONQUESTION "Remove Vorlu from $INSTDIR?" IDOK remove
    SetErrorLevel 1
    Quit
  remove:
  ClearErrors
  Delete "$INSTDIR\gen_vorlu.dll"
  ${If} ${Errors}
    IfSilent inUse
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "gen_vorlu.dll is in use. Close the player, then press Retry." IDRETRY remove
    inUse:
    SetErrorLevel 3
    Quit
  ${EndIf}
  Delete "$INSTDIR\gen_vorlu.dll.new"
  ; Journals: beside the library, in the player's folder, and in the player's settings
  ; folder under the user's application data.
  StrCpy $3 0
  StrCpy $0 "$INSTDIR"
  Call RemoveJournalIn
  GetFullPathName $0 "$INSTDIR\.."
  Call RemoveJournalIn
  StrCpy $0 "$APPDATA\Winamp"
  Call RemoveJournalIn
  ${If} $3 == 1
  ${AndIfNot} ${Silent}
    MessageBox MB_OK|MB_ICONINFORMATION "Vorlu's journal still holds artists to write back after a crash. It was kept: install Vorlu again and start the player to repair those files." /SD IDOK
  ${EndIf}
  GetFullPathName $0 "$INSTDIR\.."
  Call KeyOfFolder
  DeleteRegKey HKLM "$KEY"
  ; A running program cannot delete itself: it goes when Windows next starts.
  Delete /REBOOTOK "$EXEPATH"
  SetErrorLevel 0
  Quit
FunctionEnd

; Where the player is: its uninstaller's folder, else the folder it recorded for itself,
; else the default; each only if winamp.exe is there.
Function .onInit
  ${If} $EXEFILE == "${UNINSTALLER}"
    Call Uninstall
  ${EndIf}
  ; Space required counts the uninstaller, a copy of this program.
  StrCpy $0 "$EXEPATH"
  Call SizeOfFile
  SectionGetSize 0 $2
  IntOp $1 $1 / 1024
  IntOp $2 $2 + $1
  SectionSetSize 0 $2
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

  CopyFiles /SILENT "$EXEPATH" "$INSTDIR\Plugins\${UNINSTALLER}"
  ; The one entry that earlier versions shared among player folders goes, where it was this folder's.
  ReadRegStr $5 HKLM "${UNINSTALL_KEYS}\Vorlu" "InstallLocation"
  ${If} $5 == $INSTDIR
    DeleteRegKey HKLM "${UNINSTALL_KEYS}\Vorlu"
  ${EndIf}
  StrCpy $0 "$INSTDIR"
  Call KeyOfFolder
  WriteRegStr HKLM "$KEY" "DisplayName" "Vorlu ${VERSION} (player plug-in in $INSTDIR)"
  WriteRegStr HKLM "$KEY" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "$KEY" "Publisher" "Vorlu"
  WriteRegStr HKLM "$KEY" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "$KEY" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
  WriteRegStr HKLM "$KEY" "QuietUninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "$KEY" "NoModify" 1
  WriteRegDWORD HKLM "$KEY" "NoRepair" 1
  ; Size in KiB: the library and the uninstaller.
  StrCpy $0 "$INSTDIR\Plugins\gen_vorlu.dll"
  Call SizeOfFile
  StrCpy $4 $1
  StrCpy $0 "$INSTDIR\Plugins\${UNINSTALLER}"
  Call SizeOfFile
  IntOp $4 $4 + $1
  IntOp $4 $4 / 1024
  WriteRegDWORD HKLM "$KEY" "EstimatedSize" $4
SectionEnd

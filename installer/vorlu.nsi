; Installs gen_vorlu.dll into the player's Plugins folder, with an uninstaller and an entry
; in Add/Remove Programs. makensis -DVERSION=1.0 -DDLL=path\gen_vorlu.dll -DOUTFILE=...
;
; Silent use: Vorlu-<version>-setup.exe /S [/LOG=path] [/D=C:\path\to\player]
; /D= comes last and unquoted, spaces and all (/D=C:\Other Player): NSIS takes it no other way.
; Exit codes, the uninstaller's too: 0 done; 1 cancelled; 2 no player in the folder; 3 the
; library is in use (the player runs); 4 the Plugins folder cannot be written; 5 a /D=
; that NSIS could not take (quoted, say), rather than an install into another folder.
; Whatever the code, a run that fails changes nothing. A run writes what happened to
; /LOG=path; a silent one without it to Vorlu-setup.log beside the installer, or in the
; temporary folder when it cannot write there (Vorlu-uninstall.log in the temporary folder
; for the uninstaller, whose own folder it is cleaning).
;
; The uninstaller is this same program, copied into the Plugins folder as
; uninstall_vorlu.exe: run under that name it uninstalls the copy beside it, in place, and
; exits only when it is done (an NSIS uninstaller returns at once and finishes from a copy
; in the temporary folder).
Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; No file times packed: the same sources give the same setup, byte for byte.
SetDateSave off

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
!define MOVEFILE_REPLACE_EXISTING 1
!define HKEY_LOCAL_MACHINE 0x80000002
!define /math KEY_QUERY_AND_SET_VALUE 0x1 | 0x2
!define REG_MULTI_SZ 7
!define SESSION_MANAGER "SYSTEM\CurrentControlSet\Control\Session Manager"
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
Var LOG  ; where the run says what happened (silent, or given /LOG=); empty: nowhere
Var DIR_OPTION  ; the folder a /D= names, unquoted; empty: no /D=
Var DIR_WORD  ; the number of the command line's word that holds the /D=

; Writes the outcome, exit code $R0 and what happened $R1, to the log, if there is one.
Function WriteLog
  StrCmp $LOG "" done
  ClearErrors
  FileOpen $R2 "$LOG" w
  IfErrors done
  FileWriteUTF16LE /BOM $R2 "$(^Name): exit code $R0: $R1$\r$\n"
  FileClose $R2
  done:
FunctionEnd

; Ends the run with exit code $R0, logging $R1.
Function Finish
  Call WriteLog
  SetErrorLevel $R0
  Quit
FunctionEnd

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

; The library can be neither replaced nor removed now: exit code $R0 is 3 while the player
; holds it ($R1 the library), 4 when its folder takes no change ($R1 the folder).
; Interactively the user may put that right and retry, and the function returns; else the
; run ends, having changed nothing.
Function Refused
  ${If} $R0 == 3
    StrCpy $R1 "$R1 is in use (the player runs)"
    StrCpy $2 "gen_vorlu.dll is in use. Close the player, then press Retry."
  ${Else}
    StrCpy $R1 "$R1 cannot be written"
    StrCpy $2 "$R1. Allow changes to it (or run this program as an administrator), then press Retry."
  ${EndIf}
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$2" /SD IDCANCEL IDRETRY retry
    StrCpy $R1 "$R1; nothing was changed"
    Call Finish
  retry:
FunctionEnd

; Run as uninstall_vorlu.exe: removes the library beside it, Vorlu's own files and this
; player folder's Add/Remove entry, and nothing else; then quits with its exit code.
Function Uninstall
  StrCpy $INSTDIR $EXEDIR
  IfSilent remove
  MessageBox MB_OKCANCEL|MB_ICONQUESTION "Remove Vorlu from $INSTDIR?" IDOK remove
    StrCpy $R0 1
    StrCpy $R1 "cancelled; nothing was changed"
    Call Finish
  remove:
  Delete "$INSTDIR\gen_vorlu.dll"
  ; Whether it went, not what the delete answered: Windows only marks a file another
  ; program holds open, and Wine reports a delete its folder refuses as done.
  ${If} ${FileExists} "$INSTDIR\gen_vorlu.dll"
    ; A folder that takes a new file would let the library go too, but for the player holding it.
    StrCpy $R0 4
    StrCpy $R1 "$INSTDIR"
    ClearErrors
    FileOpen $0 "$INSTDIR\vorlu.write-check" w
    ${IfNot} ${Errors}
      FileClose $0
      Delete "$INSTDIR\vorlu.write-check"
      StrCpy $R0 3
      StrCpy $R1 "$INSTDIR\gen_vorlu.dll"
    ${EndIf}
    Call Refused
    Goto remove
  ${EndIf}
  Delete "$INSTDIR\gen_vorlu.dll.new"
  StrCpy $R1 "removed from $INSTDIR"
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
    StrCpy $R1 "$R1; kept a journal that holds artists to write back, for the next install to repair"
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONINFORMATION "Vorlu's journal still holds artists to write back after a crash. It was kept: install Vorlu again and start the player to repair those files."
    ${EndIf}
  ${EndIf}
  GetFullPathName $0 "$INSTDIR\.."
  Call KeyOfFolder
  DeleteRegKey HKLM "$KEY"
  ; A running program cannot delete itself: Windows deletes it at its next start (an
  ; install before then takes that back, see KeepUninstaller).
  Delete /REBOOTOK "$EXEPATH"
  StrCpy $R0 0
  Call Finish
FunctionEnd

; Sets LOG to the path that /LOG= names, and DIR_OPTION to the folder /D= names, however
; the command line quotes them (/LOG="C:\a b.log" as typed, or "/LOG=C:\a b.log" as
; programs pass it).
Function ReadOptions
  System::Call 'kernel32::GetCommandLineW() p .r0'
  System::Call 'shell32::CommandLineToArgvW(p r0, *i .r1) p .r2'
  StrCpy $3 1  ; past the program's own name
  ${DoWhile} $3 < $1
    IntOp $4 $3 * 4  ; a 32-bit program's pointers
    IntOp $4 $4 + $2
    System::Call '*$4(p .r5)'
    System::Call 'kernel32::lstrcpynW(w .r6, p r5, i ${NSIS_MAX_STRLEN})'
    StrCpy $7 $6 5
    StrCmp $7 "/LOG=" 0 +2
      StrCpy $LOG $6 "" 5
    StrCpy $7 $6 3
    ${If} $7 == "/D="
      StrCpy $DIR_OPTION $6 "" 3
      StrCpy $DIR_WORD $3
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  System::Call 'kernel32::LocalFree(p r2)'
FunctionEnd

; $0 in: the number of a word of the command line (0: the program's own name); out: that
; word as the command line holds it, quotes and all. Words part at spaces and tabs outside
; quotes, as CommandLineToArgvW parts them.
Function WordAsGiven
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $1 $CMDLINE
  StrCpy $3 0  ; 1 between quotes
  StrCpy $4 ""  ; the word so far
  next:
    StrCpy $2 $1 1
    StrCpy $1 $1 "" 1
    StrCmp $2 "" done
    StrCmp $2 '"' 0 +3
      IntOp $3 1 - $3
      Goto keep
    IntCmp $3 1 keep
    StrCmp $2 " " gap
    StrCmp $2 "$\t" gap
  keep:
    StrCpy $4 "$4$2"
    Goto next
  gap:
    StrCmp $4 "" next  ; a run of spaces
    IntCmp $0 0 done
    IntOp $0 $0 - 1
    StrCpy $4 ""
    Goto next
  done:
  StrCpy $0 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Where the player is: its uninstaller's folder, else the folder it recorded for itself,
; else the default; each only if winamp.exe is there.
Function .onInit
  Call ReadOptions
  ${If} $LOG == ""
  ${AndIf} ${Silent}
    ${If} $EXEFILE == "${UNINSTALLER}"
      StrCpy $LOG "$TEMP\Vorlu-uninstall.log"
    ${Else}
      ; Beside itself, unless it runs from a folder it cannot write (a share, a disc).
      StrCpy $LOG "$EXEDIR\Vorlu-setup.log"
      ClearErrors
      FileOpen $0 "$LOG" a
      ${If} ${Errors}
        StrCpy $LOG "$TEMP\Vorlu-setup.log"
      ${Else}
        FileClose $0
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $EXEFILE == "${UNINSTALLER}"
    Call Uninstall
  ${EndIf}
  ; NSIS takes /D= only last and unquoted, and else ignores it, or keeps its quotes: the
  ; folder it took must begin with the one named, or the run would install elsewhere.
  ${If} $DIR_OPTION != ""
    StrLen $0 $DIR_OPTION
    StrCpy $0 $INSTDIR $0
    ${If} $0 != $DIR_OPTION
      ; Logged as the user gave it: the quotes are the fault.
      StrCpy $0 $DIR_WORD
      Call WordAsGiven
      StrCpy $R1 "$0 not taken: this installer takes /D= only last and without quotes, even around spaces (/D=C:\Other Player)"
      MessageBox MB_OK|MB_ICONSTOP "$R1." /SD IDOK
      StrCpy $R0 5
      StrCpy $R1 "$R1; nothing was changed"
      Call Finish
    ${EndIf}
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

; $0 in: a path; out: its long form, "" when there is no such file.
Function LongPath
  Push $1
  Push $2
  System::Call 'kernel32::GetLongPathNameW(w r0, w .r1, i ${NSIS_MAX_STRLEN}) i .r2'
  StrCpy $0 $1
  StrCmp $2 0 0 +2
    StrCpy $0 ""
  Pop $2
  Pop $1
FunctionEnd

; An uninstaller cannot delete itself while it runs: it leaves that to Windows' next start
; (PendingFileRenameOperations: pairs of names, the second empty for a delete), which
; would take the uninstaller an install puts in its place before then. The install takes
; that delete back.
Function KeepUninstaller
  StrCpy $0 "$INSTDIR\Plugins\${UNINSTALLER}"
  Call LongPath
  StrCmp $0 "" done  ; no uninstaller left behind
  StrCpy $5 $0
  System::Call 'advapi32::RegOpenKeyExW(p ${HKEY_LOCAL_MACHINE}, w "${SESSION_MANAGER}", i 0, i ${KEY_QUERY_AND_SET_VALUE}, *p .r1) i .r2'
  StrCmp $2 0 0 done
  System::Call 'advapi32::RegQueryValueExW(p r1, w "PendingFileRenameOperations", p 0, *i .r3, p 0, *i .r4) i .r2'
  ${If} $2 == 0
  ${AndIf} $3 == ${REG_MULTI_SZ}
    System::Alloc $4
    Pop $6  ; the list as it is
    System::Alloc $4
    Pop $7  ; the list without that delete
    System::Call 'advapi32::RegQueryValueExW(p r1, w "PendingFileRenameOperations", p 0, p 0, p r6, *i r4) i .r2'
    StrCpy $8 $6  ; the pair read
    StrCpy $9 $7  ; where the next kept pair goes
    IntOp $R3 $6 + $4
    StrCpy $R9 0  ; 1 once the delete is out
    ${DoWhile} $8 < $R3
      System::Call 'kernel32::lstrlenW(p r8) i .R4'
      ${IfThen} $R4 == 0 ${|} ${ExitDo} ${|}  ; the empty name that ends the list
      IntOp $R5 $R4 + 1
      IntOp $R5 $R5 * 2
      IntOp $R5 $R5 + $8  ; the second name
      System::Call 'kernel32::lstrlenW(p R5) i .R6'
      IntOp $R6 $R6 + 1
      IntOp $R6 $R6 * 2
      IntOp $R6 $R6 + $R5  ; the next pair
      IntOp $R7 $R6 - $8
      System::Call 'kernel32::lstrcpynW(w .r0, p r8, i ${NSIS_MAX_STRLEN})'
      StrCpy $0 $0 "" 4  ; \??\C:\...
      Call LongPath
      System::Call 'kernel32::lstrlenW(p R5) i .R8'
      ${If} $R8 == 0
      ${AndIf} $0 == $5
        StrCpy $R9 1
      ${Else}
        System::Call 'kernel32::RtlMoveMemory(p r9, p r8, i R7)'
        IntOp $9 $9 + $R7
      ${EndIf}
      StrCpy $8 $R6
    ${Loop}
    ${If} $R9 == 1
      System::Call '*$9(&i2 0)'
      IntOp $9 $9 + 2
      IntOp $R7 $9 - $7
      ${If} $R7 > 2
        System::Call 'advapi32::RegSetValueExW(p r1, w "PendingFileRenameOperations", i 0, i ${REG_MULTI_SZ}, p r7, i R7)'
      ${Else}
        System::Call 'advapi32::RegDeleteValueW(p r1, w "PendingFileRenameOperations")'
      ${EndIf}
    ${EndIf}
    System::Free $6
    System::Free $7
  ${EndIf}
  System::Call 'advapi32::RegCloseKey(p r1)'
  done:
FunctionEnd

Section "Vorlu"
  ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
    MessageBox MB_OK|MB_ICONSTOP "There is no winamp.exe in $INSTDIR." /SD IDOK
    StrCpy $R0 2
    StrCpy $R1 "no winamp.exe in $INSTDIR; nothing was changed"
    Call Finish
  ${EndIf}
  ; A file that cannot be written sets the error flag, instead of NSIS's own question.
  SetOverwrite try
  write:
  SetOutPath "$INSTDIR\Plugins"
  ; The new library goes beside the old one first; MoveFileEx then replaces the old one
  ; whole or not at all, and fails while it is loaded.
  ClearErrors
  File "/oname=gen_vorlu.dll.new" "${DLL}"
  ${If} ${Errors}
    StrCpy $R0 4
    StrCpy $R1 "$INSTDIR\Plugins"
  ${Else}
    System::Call 'kernel32::MoveFileExW(w "$INSTDIR\Plugins\gen_vorlu.dll.new", w "$INSTDIR\Plugins\gen_vorlu.dll", i ${MOVEFILE_REPLACE_EXISTING}) i .r0'
    StrCmp $0 0 0 installed
    StrCpy $R0 3
    StrCpy $R1 "$INSTDIR\Plugins\gen_vorlu.dll"
  ${EndIf}
  Delete "$INSTDIR\Plugins\gen_vorlu.dll.new"
  Call Refused
  Goto write
  installed:

  Call KeepUninstaller
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
  StrCpy $R0 0
  StrCpy $R1 "installed into $INSTDIR\Plugins"
  Call WriteLog
SectionEnd

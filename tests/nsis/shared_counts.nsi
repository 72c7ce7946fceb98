; Library.nsh's shared-DLL counts and KX_Pellam's are the same registry
; values, and bad input reaches the library as it would from C. Run as
;   setup.exe /S /PHASE=up|down|refuse
; each phase writes what it saw to <exe folder>\<phase>.log; the test reads
; the registry itself between the phases.

Target ${KX_TARGET}
!include LogicLib.nsh
!include FileFunc.nsh
!include Library.nsh
!include KX_Pellam.nsh

Name "KX shared counts"
OutFile "${KX_OUTFILE}"
RequestExecutionLevel admin
SilentInstall silent

!define COUNTS "SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs"
Var Dll      ; the counted file, its full path being the value's name
Var Shared   ; empty: InstallLib counts the file up
Var Log

!macro Seen text
  FileWrite $Log "${text}$\r$\n"
!macroend
!define Seen "!insertmacro Seen"

; Both readers of the count side by side: the library's, then NSIS's own.
!macro ShowCounts text
  ${KX_InstGetCountSharedDLLs} $0 $Dll
  ClearErrors
  ReadRegDWORD $1 HKLM "${COUNTS}" $Dll
  ${IfThen} ${Errors} ${|} StrCpy $1 none ${|}
  ${Seen} "${text}: library $0, NSIS $1"
!macroend
!define ShowCounts "!insertmacro ShowCounts"

Section
  ${GetParameters} $R0
  ${GetOptions} $R0 "/PHASE=" $R1
  StrCpy $Dll "$EXEDIR\shared\KX_Brindel.dll"
  StrCpy $Shared ""   ; not installed before: InstallLib is to count it up
  FileOpen $Log "$EXEDIR\$R1.log" w
  ${KX_Load} "${KX_BIN}"
  ${IfThen} ${Errors} ${|} ${Seen} "not loaded" ${|}

  ${If} $R1 == up
    !insertmacro InstallLib DLL $Shared NOREBOOT_NOTPROTECTED "${KX_BIN}\KX_Brindel.dll" $Dll $TEMP
    ${ShowCounts} "InstallLib"
    ${KX_InstCountUpSharedDLLs} $2 $Dll
    ${ShowCounts} "KX_InstCountUpSharedDLLs $2"
  ${ElseIf} $R1 == down
    !insertmacro UnInstallLib DLL SHARED NOREMOVE $Dll
    ${ShowCounts} "UnInstallLib"
    ${KX_InstCountDownSharedDLLs} $2 $Dll
    ${ShowCounts} "KX_InstCountDownSharedDLLs $2"
    Delete $Dll
    RMDir "$EXEDIR\shared"
  ${ElseIf} $R1 == refuse
    ; 300 characters: more than any key path the library composes may hold.
    StrCpy $2 ""
    ${For} $3 1 30
      StrCpy $2 "$20123456789"
    ${Next}
    StrLen $3 $2
    ${KX_InstRegistAppPath} $0 $2 "C:\KX\"
    ${Seen} "App Paths entry named by $3 characters: $0"
    ${KX_InstRegistAppPath} $0 "" "C:\KX\"
    ${Seen} "App Paths entry with an empty name: $0"
    ${KX_InstCountUpSharedDLLs} $0 ""
    ${Seen} "count up of an empty name: $0"
    ${KX_InstGetCountSharedDLLs} $0 ""
    ${Seen} "count of an empty name: $0"
    ; The folder and five copies of the name exceed the buffer the macro
    ; hands over (NSIS_MAX_STRLEN characters): refused, the text left empty.
    ${KX_GetProgramPath} $0 $1 "$2$2$2" "$2$2"
    ${Seen} "program folder longer than the buffer: $0 '$1'"
    ; Without the include: an output buffer that is a null pointer. The
    ; include loads the DLL for its own calls only, so a direct call loads
    ; it for itself, from the folder the include remembers.
    System::Call 'kernel32::LoadLibraryEx(t "$KX_Folder\KX_Pellam.dll", p 0, i 0x8) p .r9'
    !ifdef NSIS_UNICODE
      System::Call 'KX_Pellam::KX_InstQueryAppPathW(t "kxnotes.exe", p 0) i .r0'
    !else
      System::Call 'KX_Pellam::KX_InstQueryAppPathA(t "kxnotes.exe", p 0) i .r0'
    !endif
    System::Call 'kernel32::FreeLibrary(p r9)'
    ${Seen} "App Paths query into no buffer: $0"
  ${EndIf}

  ; Once unloaded, a macro calls nothing: an empty result and the error flag.
  ${KX_Unload}
  ClearErrors
  ${KX_InstCountUpSharedDLLs} $0 $Dll
  ${If} ${Errors}
    ${Seen} "after unloading: '$0', error flag set"
  ${Else}
    ${Seen} "after unloading: '$0', error flag clear"
  ${EndIf}
  FileClose $Log
SectionEnd

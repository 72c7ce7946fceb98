; An installer as its author writes it, run from a folder that also holds an
; attacker's KX_Brindel.dll, with another one in its current folder. Run as
;   setup.exe /S /PHASE=load|control
; load: ${KX_Load}, then a call that goes through KX_Brindel.dll;
; control: the attacker's file beside the installer loaded by its full path,
; which must leave its marker (else the test's witness proves nothing).
; Each phase writes what it saw to <exe folder>\<phase>.log.

Target ${KX_TARGET}
!include LogicLib.nsh
!include FileFunc.nsh
!include KX_Pellam.nsh

Name "KX planted DLL"
OutFile "${KX_OUTFILE}"
RequestExecutionLevel user
SilentInstall silent

Section
  ${GetParameters} $R0
  ${GetOptions} $R0 "/PHASE=" $R1
  FileOpen $R9 "$EXEDIR\$R1.log" w
  ${If} $R1 == control
    System::Call 'kernel32::LoadLibrary(t "$EXEDIR\KX_Brindel.dll") p .r0'
    FileWrite $R9 "loaded by path: $0$\r$\n"
  ${Else}
    ; The installer's own folder, which KX_Pellam.dll finds with
    ; KX_GetDirectoryName of KX_Brindel.dll: the planted copy answers nothing.
    ${KX_Load} "${KX_BIN}"
    ${IfThen} ${Errors} ${|} FileWrite $R9 "not loaded$\r$\n" ${|}
    ${KX_GetCurrentProgramPath} $0 0 $1
    FileWrite $R9 "result: $0$\r$\nfolder: $1$\r$\nexedir: $EXEDIR\$\r$\n"
    ${KX_Unload}
  ${EndIf}
  FileClose $R9
SectionEnd

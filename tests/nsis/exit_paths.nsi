; No DLL of the library is left in the temporary folder, whichever way the
; installer or its uninstaller ends. Run as
;   setup.exe /S /PHASE=install|oninit|section|quit
; and the uninstaller it writes as uninst.exe /S _?=<folder>; each run
; appends its plug-ins folder to the file KX_LOG names, for the test to look
; for after the process has ended.
Target ${KX_TARGET}
!include LogicLib.nsh
!include FileFunc.nsh
!include KX_Pellam.nsh

Name "KX exit paths"
OutFile "${KX_OUTFILE}"
RequestExecutionLevel admin
InstallDir "$EXEDIR\installed"

Var Phase

!macro Used where
  ; One call, so that the DLLs have been loaded before the exit.
  ${KX_QueryArchitecture} $1
  FileOpen $0 "${KX_LOG}" a
  FileSeek $0 0 END
  FileWrite $0 "${where} $1 $PLUGINSDIR$\r$\n"
  FileClose $0
!macroend

Function .onInit
  ${GetParameters} $0
  ${GetOptions} $0 "/PHASE=" $Phase
  ${KX_Load} "${KX_BIN}"
  !insertmacro Used $Phase
  ${IfThen} $Phase == oninit ${|} Abort ${|}
FunctionEnd

Section
  ${KX_GetAppDataPath} $1 $2 "KX" :null
  ${IfThen} $Phase == section ${|} Abort "failing on purpose" ${|}
  ${IfThen} $Phase == quit ${|} Quit ${|}
  SetOutPath $INSTDIR
  File "${KX_BIN}\KX_Pellam.dll"
  File "${KX_BIN}\KX_Brindel.dll"
  WriteUninstaller "$INSTDIR\uninst.exe"
SectionEnd

; The uninstaller packs its own copies and uses the installed ones too; it
; deletes the installed ones after its calls.
Function un.onInit
  ${KX_Load} "${KX_BIN}"
  ${KX_LoadFrom} $INSTDIR
  !insertmacro Used uninstall
FunctionEnd

Section Uninstall
  ${KX_GetAppDataPath} $1 $2 "KX" :null
  Delete "$INSTDIR\KX_Pellam.dll"
  Delete "$INSTDIR\KX_Brindel.dll"
SectionEnd

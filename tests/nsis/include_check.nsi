; Calls through KX_Pellam.nsh whose answers follow from their arguments, and
; writes "ok NAME" or "FAIL NAME ..." lines to $EXEDIR\include_check.log.
; makensis -DKX_BIN=<bin> -DKX_OTHER=<the other bitness's bin> -DTARGET=<target> -DLOG=<name> include_check.nsi
Target ${TARGET}
!if ${TARGET} == x86-ansi
Unicode false
!else
Unicode true
!endif
!include "KX_Pellam.nsh"
OutFile "include_check-${TARGET}.exe"
SilentInstall silent
RequestExecutionLevel user

Var log
Var r
Var a
Var b
Var c
Var d
Var e
Var f
Var g

!macro Expect NAME GOT WANT
  StrCmpS `${GOT}` `${WANT}` +3
  FileWrite $log `FAIL ${NAME}: [${GOT}] not [${WANT}]$\r$\n`
  Goto +2
  FileWrite $log "ok ${NAME}$\r$\n"
!macroend

Section
  FileOpen $log "$EXEDIR\${LOG}" w
  ; Registers and the stack must come through every macro untouched.
  StrCpy $0 r0
  StrCpy $5 r5
  StrCpy $9 r9
  StrCpy $R0 R0
  StrCpy $R9 R9
  Push sentinel

  ${KX_SetDoublequote} $r "x" $a
  IfErrors 0 +2
  StrCpy $a "error flag"
  !insertmacro Expect "refused before loading" "$r|$a" "|error flag"

  SetErrors
  ${KX_Load} "${KX_BIN}"
  IfErrors 0 +2
  FileWrite $log "FAIL KX_Load left the error flag set$\r$\n"
  SetErrors
  ${KX_QueryArchitecture} $r
  IfErrors +2
  FileWrite $log "FAIL a call cleared the error flag$\r$\n"
  ClearErrors
!if ${TARGET} == amd64-unicode
  !insertmacro Expect "architecture" $r 1
!else
  !insertmacro Expect "architecture" $r 2
!endif
  ${KX_GetDirectoryName} $r 'C:\a "b" $$c\d.txt' $a
  !insertmacro Expect "text with quotes in and out" "$r|$a" '1|C:\a "b" $$c'
  ${KX_SetDoublequote} $r "x y" $a
  !insertmacro Expect "Brindel buffer and capacity" "$r|$a" '1|"x y"'
  ${KX_GetProgramPath} $r $a ":null" ":null"
  ${KX_GetProgramPath} $r $b "" ":null"
  ${KX_GetProgramPath} $r $c "Maker" "Pro duct"
  !insertmacro Expect ":null is a null pointer" "$a\|$a\Maker\Pro duct" "$b|$c"
  System::Call 'kernel32::GetModuleHandle(p 0) p .s'
  Pop $b
  ${KX_GetCurrentProgramPath} $r $b $a
  !insertmacro Expect "module handle in, folder out" "$r|$a" "1|$EXEDIR\"
  ; Each call loads the DLL for itself only: nothing stays loaded.
  System::Call 'kernel32::GetModuleHandle(t "KX_Pellam.dll") p .s'
  System::Call 'kernel32::GetModuleHandle(t "KX_Brindel.dll") p .s'
  Pop $a
  Pop $b
  !insertmacro Expect "nothing loaded between calls" "$a|$b|$KX_Folder|$KX_Error" "0|0|$PLUGINSDIR|0"
  ${KX_InstProductIconFile} $r "$PLUGINSDIR\none.exe" "KX include check"
  !insertmacro Expect "icon from a file that is not there" $r 0
  ${KX_InstGetCountSharedDLLs} $r "C:\kx include check\none.dll"
  !insertmacro Expect "signed result" $r -1

  ${KX_CreateShortcut} $r "$PLUGINSDIR\check.lnk" "$SYSDIR\notepad.exe" ":null" "$SYSDIR" 'say "hi"' 0x0641 1
  ${KX_ResolveShortcut} $r "$PLUGINSDIR\check.lnk" $a $b $c $d $e $f $g
  !insertmacro Expect "shortcut outputs in order" "$r|$b|$c|$d|$e" '0|$SYSDIR|say "hi"|1601|1'

  ${KX_AttachInput} $r 0 $a $b
  System::Call 'kernel32::GetCurrentThreadId() i .s'
  Pop $c
  !insertmacro Expect "attachment record out" $a $c
  StrCpy $d $r
  ${KX_DetachInput} $r $a $b
  !insertmacro Expect "attachment record in" $r $d

  StrCpy $a 'C:\x "y".txt'
  ${KX_GetOpenFileName} $r 1 "title" "Text|*.txt|All|*.*|" 0 $a
  !insertmacro Expect "dialog buffer carried through" "$r|$a" '0|C:\x "y".txt'
  StrCpy $a 1193046
  ${KX_BrowseColor} $r 1 $a 0
  !insertmacro Expect "colour carried through" $a 1193046
  ; The filter list as the dialog receives it.
  !define /redef _KX_U ${__COUNTER__}
  !insertmacro _KX_Filter "Text|*.txt|All|*.*" $r 1
  Pop $a
  System::Call '*$a(&t5 .s, &t6 .s, &t4 .s, &t4 .s, &t2 .s)'
  Pop $b
  Pop $c
  Pop $d
  Pop $e
  Pop $f
  System::Free $a
  !insertmacro Expect "filter list" "$b|$c|$d|$e|$f" "Text|*.txt|All|*.*|"
  !undef _KX_U

  Pop $r
  !insertmacro Expect "stack and registers untouched" "$r $0 $5 $9 $R0 $R9" "sentinel r0 r5 r9 R0 R9"

  ${KX_Unload}
  ${KX_GetDirectoryName} $r "C:\a\b" $a
  IfErrors 0 +2
  StrCpy $a "error flag"
  !insertmacro Expect "refused after unloading" "$r|$a" "|error flag"
  ${KX_LoadFrom} "$PLUGINSDIR\nowhere"
  StrCpy $a ""
  IfErrors 0 +2
  StrCpy $a "error flag"
  !insertmacro Expect "missing folder" "$KX_Folder|$KX_Error|$a" "|126|error flag"
  ; The other architecture's DLLs (when this build has them): the Windows
  ; error says why.
  ${KX_LoadFrom} "${KX_OTHER}"
  StrCmp $KX_Error 126 +5
  !insertmacro Expect "DLLs of the other bitness" "$KX_Folder|$KX_Error" "|193"
  ${KX_LoadFrom} "$PLUGINSDIR"
  ${KX_SetDoublequote} $r "z" $a
  !insertmacro Expect "loaded from a folder" "$r|$a" '1|"z"'
  ${KX_Unload}
  FileWrite $log "done$\r$\n"
  FileClose $log
SectionEnd

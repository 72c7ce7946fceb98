; Every LogicLib test of KX_Pellam.nsh beside the call it wraps, and every
; "at least" test beside WinVer.nsh's for the same version, written to
; <exe folder>\platform.log as "NAME CALL TEST" and "NAME KX WINVER" lines.
; The lines come from the include, listed into tests.nsh by the test script.
Target ${KX_TARGET}
!include LogicLib.nsh
!include WinVer.nsh
!include KX_Pellam.nsh
Name "KX platform tests"
OutFile "${KX_OUTFILE}"
RequestExecutionLevel user
SilentInstall silent

Var Log

; Each test's answer as 1 or 0 in $1, beside the call's in $0 or WinVer's in $2.
!macro Predicate call test
  !insertmacro ${call} $0 -1
  StrCpy $1 0
  ${If} ${${test}} -1
    StrCpy $1 1
  ${EndIf}
  FileWrite $Log "${test} $0 $1$\r$\n"
!macroend

!macro AtLeast test winver
  StrCpy $1 0
  ${If} ${${test}}
    StrCpy $1 1
  ${EndIf}
  StrCpy $2 0
  ${If} ${${winver}}
    StrCpy $2 1
  ${EndIf}
  FileWrite $Log "${test} $1 $2$\r$\n"
!macroend

Section
  FileOpen $Log "$EXEDIR\platform.log" w
  ${KX_Load} "${KX_BIN}"
  !include tests.nsh
  FileClose $Log
SectionEnd

; KX Sample Notes 1.0 -- a sample installer and uninstaller built on KX_Pellam.
;
; The installer registers the product with Windows through the library, and
; the uninstaller it writes takes every step back. Build it with
;
;   makensis -DKX_BIN=<bin> [-DKX_TARGET=<target>] [-DKX_OUTFILE=<setup.exe>] \
;            "-X!addincludedir <folder of KX_Pellam.nsh>" kxnotes.nsi
;
; where <bin> holds KX_Pellam.dll, KX_Brindel.dll and kxcall.exe of the
; installer's own bitness: the 64-bit build's bin for amd64-unicode, the
; 32-bit build's for x86-unicode and x86-ansi. kxcall.exe stands in for the
; product's program and is installed as kxnotes.exe.

!ifndef KX_BIN
  !error "pass the folder of the DLLs: makensis -DKX_BIN=<bin> kxnotes.nsi"
!endif
!ifndef KX_TARGET
  !define KX_TARGET x86-unicode
!endif
!ifndef KX_OUTFILE
  !define KX_OUTFILE "kxnotes-setup-${KX_TARGET}.exe"
!endif

Target ${KX_TARGET}
!include LogicLib.nsh
!include KX_Pellam.nsh

!define VENDOR  "KX Demo Makers"
!define PRODUCT "KX Sample Notes"
!define VERSION "1.0"
!define ENTRY   "KX_Sample_Notes"      ; the key of the installed-programs entry
!define EXE     "kxnotes.exe"
!define EXT     "kxnote"
!define CLASS   "KXSampleNotes.Note"
!define APPKEY  "SOFTWARE\${VENDOR}\${PRODUCT}\${VERSION}"

Name "${PRODUCT} ${VERSION}"
OutFile "${KX_OUTFILE}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

; Folders composed by the library, in the installer and in the uninstaller.
Var DataDir       ; <AppData>\KX Demo Makers\KX Sample Notes
Var MenuDir       ; <all users' Programs menu>\KX Demo Makers\KX Sample Notes
Var DataVendor    ; their vendor folders, removed once no product is left in
Var MenuVendor    ; them (:null, the include's null pointer, leaves out the
Var ProgramVendor ; second sub-folder name)

!macro ComposeFolders un
  Function ${un}ComposeFolders
    ${KX_GetAppDataPath} $0 $DataDir "${VENDOR}" "${PRODUCT}"
    ${IfThen} $0 != 1 ${|} Abort "The application data folder is unknown." ${|}
    ${KX_GetCommonStartProgramPath} $0 $MenuDir "${VENDOR}" "${PRODUCT}"
    ${IfThen} $0 != 1 ${|} Abort "The start menu folder is unknown." ${|}
    ${KX_GetAppDataPath} $0 $DataVendor "${VENDOR}" :null
    ${KX_GetCommonStartProgramPath} $0 $MenuVendor "${VENDOR}" :null
    ${KX_GetProgramPath} $0 $ProgramVendor "${VENDOR}" :null
  FunctionEnd
!macroend
!insertmacro ComposeFolders ""
!insertmacro ComposeFolders "un."

; A call that did not do its job stops the installation and says why.
!macro Expect result wanted what
  ${If} ${result} != ${wanted}
    DetailPrint "${what}: got ${result}, expected ${wanted}"
    Abort "${what} failed."
  ${EndIf}
!macroend
!define Expect "!insertmacro Expect"

Function .onInit
  ; The DLLs travel inside the installer and load from its plug-ins folder.
  ${KX_Load} "${KX_BIN}"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "KX_Pellam.dll could not be loaded." /SD IDOK
    Abort
  ${EndIf}

  ; Platform check first: XP or later, in any of its editions (32-bit,
  ; x64, server). An Abort needs no ${KX_Unload}: nothing stays loaded.
  ${IfNot} ${KX_AtLeastXP}
    MessageBox MB_ICONSTOP "${PRODUCT} needs Windows XP or later." /SD IDOK
    Abort
  ${EndIf}

  ; /D=<folder> on the command line wins; otherwise the library composes
  ; <Program Files>\KX Demo Makers\KX Sample Notes for this installer's bitness.
  ${If} $INSTDIR == ""
    ${KX_GetProgramPath} $0 $INSTDIR "${VENDOR}" "${PRODUCT}"
    ${IfThen} $0 != 1 ${|} Abort "The program folder is unknown." ${|}
  ${EndIf}
  Call ComposeFolders
FunctionEnd

Section "KX Sample Notes"
  ; 1. Files: the program, the library it uses, the uninstaller, a document.
  SetOutPath "$INSTDIR"
  File "/oname=${EXE}" "${KX_BIN}\kxcall.exe"
  File "${KX_BIN}\KX_Pellam.dll"
  File "${KX_BIN}\KX_Brindel.dll"
  WriteUninstaller "$INSTDIR\uninst.exe"
  CreateDirectory "$DataDir"
  FileOpen $1 "$DataDir\Welcome.${EXT}" w
  FileWrite $1 "Welcome to ${PRODUCT}.$\r$\n"
  FileClose $1

  ; 2. App Paths entry (the directory keeps its trailing backslash: the
  ;    library joins it to the file name as it is) and the application key.
  ${KX_InstRegistAppPath} $0 "${EXE}" "$INSTDIR\"
  ${Expect} $0 0 "App Paths entry"
  ${KX_InstRegistApp} $0 "${VENDOR}" "${PRODUCT}" "${VERSION}"
  ${Expect} $0 0 "Application key"

  ; 3. The installed-programs entry runs the NSIS uninstaller. DisplayIcon is
  ;    written empty and filled with the installed program's path (not the
  ;    setup program's, which KX_InstMsiProductIcon's 0 would name).
  ${KX_InstRegistUninstaller} $0 "${ENTRY}" "${PRODUCT} ${VERSION}" '"$INSTDIR\uninst.exe"' \
      "${VENDOR}" "" "${VERSION}" "$INSTDIR\" "https://www.example.com/kx-sample-notes"
  ${Expect} $0 0 "Uninstall entry"
  ${KX_InstProductIconFile} $0 "$INSTDIR\${EXE}" "${ENTRY}"
  ${Expect} $0 1 "Uninstall entry icon"

  ; 4. KX_Pellam.dll may be shared with other products: count this one in.
  ${KX_InstCountUpSharedDLLs} $0 "$INSTDIR\KX_Pellam.dll"
  ${Expect} $0 0 "Shared DLL count"

  ; 5. The .kxnote file type and the command that opens it. The command holds
  ;    double quotes; the include passes it on the stack, untouched.
  ${KX_InstRegistExt} $0 "${EXT}" "KX Sample Note" "${CLASS}" "$INSTDIR\${EXE}" 0
  ${Expect} $0 0 "File type"
  ${KX_InstRegistExtAction} $0 "${CLASS}" "open" "command" '"$INSTDIR\${EXE}" "%1"'
  ${Expect} $0 0 "Open verb"

  ; 6. A start-menu shortcut (COM status: 0 is success), shown normally (1).
  CreateDirectory "$MenuDir"
  ${KX_CreateShortcut} $0 "$MenuDir\${PRODUCT}.lnk" "$INSTDIR\${EXE}" :null "$INSTDIR" "Take notes" 0 1
  ${Expect} $0 0 "Start-menu shortcut"

  ; 7. The installed library's own version strings, kept beside the product's
  ;    settings. A DLL without a version resource answers 0 (and "").
  ${KX_GetProductName} $0 "$INSTDIR\KX_Pellam.dll" $1
  ${If} $0 == 1
    ${KX_GetResourceVersionInfo} $0 "$INSTDIR\KX_Pellam.dll" 3 $2   ; 3 = FileVersion
    DetailPrint "KX_Pellam.dll: product '$1', file version '$2'"
    WriteRegStr HKLM "${APPKEY}" "Library" "$1 $2"
  ${EndIf}
SectionEnd

Function un.onInit
  ; The uninstaller uses the copy of the library it installed.
  ${KX_LoadFrom} "$INSTDIR"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "$INSTDIR\KX_Pellam.dll could not be loaded." /SD IDOK
    Abort
  ${EndIf}
  Call un.ComposeFolders
FunctionEnd

Section "Uninstall"
  ; Every install step, taken back in the opposite order.
  ; 6. The shortcut and its menu folders (the vendor's only once empty).
  Delete "$MenuDir\${PRODUCT}.lnk"
  RMDir "$MenuDir"
  RMDir "$MenuVendor"

  ; 5. The file type, with its class and every verb below it.
  ${KX_InstUnregistExt} $0 "${EXT}" "${CLASS}"

  ; 3. and 2. The installed-programs entry, the application key (with its
  ;    parents once no other product is left under them), App Paths.
  ${KX_InstDeleteUninstaller} $0 "${ENTRY}"
  ${KX_InstDeleteApp} $0 "${VENDOR}" "${PRODUCT}" "${VERSION}"
  ${KX_InstDeleteAppPath} $0 "${EXE}"

  ; 4. Count this product out. -1 means no product counts the DLL any more;
  ;    KX_Brindel.dll goes with it, since KX_Pellam.dll loads it from beside
  ;    itself. No call may follow their deletion: ${KX_Unload} says so.
  ${KX_InstCountDownSharedDLLs} $0 "$INSTDIR\KX_Pellam.dll"
  ${KX_InstGetCountSharedDLLs} $2 "$INSTDIR\KX_Pellam.dll"
  ${KX_Unload}
  ${If} $2 == -1
    Delete "$INSTDIR\KX_Pellam.dll"
    Delete "$INSTDIR\KX_Brindel.dll"
  ${Else}
    DetailPrint "KX_Pellam.dll stays: $2 more product(s) use it."
  ${EndIf}

  ; 1. The files and folders, vendor folders only once empty.
  Delete "$DataDir\Welcome.${EXT}"
  RMDir "$DataDir"
  RMDir "$DataVendor"
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
  RMDir "$ProgramVendor"
SectionEnd

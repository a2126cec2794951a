; The Windows installer: brindlemark.exe, brindlemark-cli.exe, the loader images and the manuals
; in one folder, a Start-menu folder, the project and pack file types, an entry in the system's
; list of programs and an uninstaller that takes all of it away again.
;
; Made by the Windows build (cmake --build --preset windows --target windows-installer), which
; passes: VERSION (1.0.0), VERSION_TEXT (as the programs say it), BIN (the folder of the two programs), LOADERS (the loader images,
; built by the Linux build with avr-gcc), SOURCE (the source tree, for the manuals), OUTFILE.
;
; `setup.exe /S` installs silently (`/D=FOLDER`, last, names another folder); the uninstaller
; takes /S too.

Unicode true
; The x86 stub would need a 32-bit system to run on; both programs are 64-bit anyway.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!define NAME "Brindlemark"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brindlemark"
!define APP_PATHS "Software\Microsoft\Windows\CurrentVersion\App Paths"
!define CLASSES "Software\Classes"
!define SHCNE_ASSOCCHANGED 0x08000000

Name "${NAME} ${VERSION_TEXT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${NAME} ${VERSION_TEXT}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${NAME}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${NAME} ${VERSION_TEXT} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "The Brindlemark developers"

!define MUI_ICON "${SOURCE}\src\app\desktop-win32\brindlemark.ico"
!define MUI_UNICON "${SOURCE}\src\app\desktop-win32\brindlemark.ico"
; No "Run Brindlemark" on the last page: started by the elevated installer, the window would run
; as administrator, and a file dragged from the desktop could not be dropped on it.
!insertmacro MUI_PAGE_LICENSE "${SOURCE}\LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A file type of ours: its class (name, icon, how it opens) and its extension, unless another
; program owns that extension already (then ours is one of its "Open with" choices only).
!macro FileType EXT CLASS DESCRIPTION
  WriteRegStr HKLM "${CLASSES}\${CLASS}" "" "${DESCRIPTION}"
  WriteRegStr HKLM "${CLASSES}\${CLASS}\DefaultIcon" "" "$INSTDIR\brindlemark.exe,0"
  WriteRegStr HKLM "${CLASSES}\${CLASS}\shell\open\command" "" '"$INSTDIR\brindlemark.exe" "%1"'
  WriteRegStr HKLM "${CLASSES}\${EXT}\OpenWithProgids" "${CLASS}" ""
  ReadRegStr $0 HKLM "${CLASSES}\${EXT}" ""
  ${If} $0 == ""
    WriteRegStr HKLM "${CLASSES}\${EXT}" "" "${CLASS}"
  ${EndIf}
!macroend

; Takes away what FileType wrote: the extension's default only while it is still ours, and its
; key only when nothing else is left in it.
!macro RemoveFileType EXT CLASS
  ReadRegStr $0 HKLM "${CLASSES}\${EXT}" ""
  ${If} $0 == "${CLASS}"
    DeleteRegValue HKLM "${CLASSES}\${EXT}" ""
  ${EndIf}
  DeleteRegValue HKLM "${CLASSES}\${EXT}\OpenWithProgids" "${CLASS}"
  DeleteRegKey /ifempty HKLM "${CLASSES}\${EXT}\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "${CLASSES}\${EXT}"
  DeleteRegKey HKLM "${CLASSES}\${CLASS}"
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${NAME} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Brindlemark" Main
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BIN}\brindlemark.exe"
  File "${BIN}\brindlemark-cli.exe"
  File "/oname=LICENSE.txt" "${SOURCE}\LICENSE"
  ; brindlemark-cli loaders looks for them in loaders\ beside the program.
  SetOutPath "$INSTDIR\loaders"
  File "${LOADERS}\brindlemark-loader-*.hex"
  File "/oname=README.md" "${SOURCE}\packaging\loaders-README.md"
  SetOutPath "$INSTDIR\docs"
  File "${SOURCE}\docs\windows.md"
  File "${SOURCE}\docs\cli.md"
  File "${SOURCE}\docs\loader.md"
  File "${SOURCE}\docs\records.md"
  File "${SOURCE}\docs\brindlemark-cli.schema.json"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The Start menu: the window, a console where brindlemark-cli is at hand, the manual.
  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\brindlemark.exe" "" "$INSTDIR\brindlemark.exe" 0
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME} command line.lnk" "$SYSDIR\cmd.exe" \
    '/k "cd /d "%USERPROFILE%" && set "PATH=$INSTDIR;%PATH%" && brindlemark-cli --help"' \
    "$INSTDIR\brindlemark-cli.exe" 0
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME} on Windows.lnk" "$INSTDIR\docs\windows.md"

  ; `brindlemark` typed into Run finds the window.
  WriteRegStr HKLM "${APP_PATHS}\brindlemark.exe" "" "$INSTDIR\brindlemark.exe"

  ; Projects and packs open in the window. A .pac is often a proxy auto-config file: its
  ; owner is left alone, and the window is only offered under "Open with".
  !insertmacro FileType ".ppro" "Brindlemark.Project" "Brindlemark project"
  !insertmacro FileType ".pack" "Brindlemark.Pack" "Brindlemark pack"
  WriteRegStr HKLM "${CLASSES}\.pac\OpenWithProgids" "Brindlemark.Pack" ""
  WriteRegStr HKLM "${CLASSES}\Applications\brindlemark.exe" "FriendlyAppName" "${NAME}"
  WriteRegStr HKLM "${CLASSES}\Applications\brindlemark.exe\SupportedTypes" ".ppro" ""
  WriteRegStr HKLM "${CLASSES}\Applications\brindlemark.exe\SupportedTypes" ".pack" ""
  WriteRegStr HKLM "${CLASSES}\Applications\brindlemark.exe\SupportedTypes" ".pac" ""
  WriteRegStr HKLM "${CLASSES}\Applications\brindlemark.exe\SupportedTypes" ".hex" ""
  WriteRegStr HKLM "${CLASSES}\Applications\brindlemark.exe\SupportedTypes" ".eep" ""
  WriteRegStr HKLM "${CLASSES}\Applications\brindlemark.exe\shell\open\command" "" \
    '"$INSTDIR\brindlemark.exe" "%1"'
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'

  ; Settings, Apps: the entry that uninstalls it.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Brindlemark developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brindlemark.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Every file by name, never the whole folder: a folder the user chose may hold files of theirs.
Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\brindlemark.exe"
  Delete "$INSTDIR\brindlemark-cli.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\loaders\brindlemark-loader-*.hex"
  Delete "$INSTDIR\loaders\README.md"
  RMDir "$INSTDIR\loaders"
  Delete "$INSTDIR\docs\windows.md"
  Delete "$INSTDIR\docs\cli.md"
  Delete "$INSTDIR\docs\loader.md"
  Delete "$INSTDIR\docs\records.md"
  Delete "$INSTDIR\docs\brindlemark-cli.schema.json"
  RMDir "$INSTDIR\docs"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} command line.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} on Windows.lnk"
  RMDir "$SMPROGRAMS\${NAME}"

  DeleteRegKey HKLM "${APP_PATHS}\brindlemark.exe"
  !insertmacro RemoveFileType ".ppro" "Brindlemark.Project"
  !insertmacro RemoveFileType ".pack" "Brindlemark.Pack"
  DeleteRegValue HKLM "${CLASSES}\.pac\OpenWithProgids" "Brindlemark.Pack"
  DeleteRegKey /ifempty HKLM "${CLASSES}\.pac\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "${CLASSES}\.pac"
  DeleteRegKey HKLM "${CLASSES}\Applications\brindlemark.exe"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

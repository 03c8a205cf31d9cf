; The Windows installer of Vexlan Client: a per-user installation that needs no administrator.
; Made by the CMake target "windows-installer", which passes:
;   VERSION  the program's version (four numbers)
;   STAGE    the folder holding the files to install, as they lie in the program folder
;   FILES    a generated include with the macros VEXLAN_INSTALL_FILES and VEXLAN_REMOVE_FILES
;            (the same list of files, so the uninstaller removes exactly what was installed)
;   ICON     the program's icon
;   PRODUCT_SHOWN  the name shown in the pages and the installed programs ("Vexlan Client", or
;            "Vexlan Client (development key)" for a build that trusts a development key)
;   OUTFILE  the installer to write
;
; It installs into %LOCALAPPDATA%\Programs\Vexlan Client, adds a Start-menu entry, makes the
; program the user's handler of vexlan:// links and adds an entry to the user's installed
; programs. The uninstaller takes all of that away again and leaves the user's settings and
; components (in the "Vexlan" folder of the user's profile) alone. /S installs and uninstalls
; silently.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Vexlan Client"
!define PUBLISHER "Vexlan"
!define PROGRAM "vexlanclient.exe"
!define SCHEME_KEY "Software\Classes\vexlan"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexlan Client"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT_SHOWN}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
BrandingText "${PRODUCT_SHOWN} ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT_SHOWN}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT_SHOWN} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "${FILES}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!define MUI_FINISHPAGE_RUN_NOTCHECKED

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The same languages as the program's catalogs; the installer takes the user's.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "Spanish"

Function .onInit
    ; The current user's folders, Start menu and registry only.
    SetShellVarContext current
FunctionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "${PRODUCT_SHOWN}" SectionProgram
    SectionIn RO
    !insertmacro VEXLAN_INSTALL_FILES
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortCut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

    ; vexlan:// links open the program with the link as its only parameter.
    WriteRegStr HKCU "${SCHEME_KEY}" "" "URL:Vexlan Protocol"
    WriteRegStr HKCU "${SCHEME_KEY}" "URL Protocol" ""
    WriteRegStr HKCU "${SCHEME_KEY}\DefaultIcon" "" "$\"$INSTDIR\${PROGRAM}$\",0"
    WriteRegStr HKCU "${SCHEME_KEY}\shell\open\command" "" "$\"$INSTDIR\${PROGRAM}$\" $\"%1$\""

    ; The entry in the user's installed programs.
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_SHOWN}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$\"$INSTDIR\${PROGRAM}$\",0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize ${SectionProgram} $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    !insertmacro VEXLAN_REMOVE_FILES
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: a folder the user chose may hold files of theirs.
    RMDir "$INSTDIR"

    Delete "${SHORTCUT}"

    ; The link handler only while it is still this installation's: another program may have
    ; taken the scheme over since.
    ReadRegStr $0 HKCU "${SCHEME_KEY}\shell\open\command" ""
    StrCmp $0 "$\"$INSTDIR\${PROGRAM}$\" $\"%1$\"" 0 scheme_kept
        DeleteRegKey HKCU "${SCHEME_KEY}"
    scheme_kept:
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

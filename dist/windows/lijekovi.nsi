; The Windows installer: Lijekovi for the user who runs it, no administrator
; rights asked. The register (Baza.xml) is kept in the folder the program
; starts in, so the shortcuts start it in the user's Documents\Lijekovi;
; the uninstaller removes the program and its shortcuts, never that folder
; or anything in it.
;
; makensis -DVERSION=2.1 -DEXE=path\to\lijekovi.exe -DOUTFILE=lijekovi-2.1-setup.exe lijekovi.nsi
; Silent: lijekovi-2.1-setup.exe /S (the desktop shortcut is made too).

; The program is 64-bit only, and so is its installer (a 32-bit Windows
; could not run what it installs).
Target amd64-unicode
!include "MUI2.nsh"

!ifndef VERSION
  !error "VERSION is not given"
!endif
!ifndef EXE
  !error "EXE (the lijekovi.exe to install) is not given"
!endif
!ifndef ICON
  !error "ICON (the program's .ico) is not given"
!endif
!ifndef OUTFILE
  !define OUTFILE "lijekovi-${VERSION}-setup.exe"
!endif

!define PRODUCT "Lijekovi"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lijekovi"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ManifestDPIAware true

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1050 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1050 "FileDescription" "Instalacija programa ${PRODUCT}"
VIAddVersionKey /LANG=1050 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1050 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1050 "LegalCopyright" "Tervalis"
VIAddVersionKey /LANG=1050 "CompanyName" "Tervalis"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\lijekovi.exe"
!define MUI_FINISHPAGE_RUN_FUNCTION StartInWorkingFolder
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Croatian"

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

; Where the register lives: the shortcuts' working folder. Made if missing;
; what is in it already stays as it is.
!macro WorkingFolder
  CreateDirectory "$DOCUMENTS\${PRODUCT}"
  SetOutPath "$DOCUMENTS\${PRODUCT}"
!macroend

Function StartInWorkingFolder
  !insertmacro WorkingFolder
  Exec '"$INSTDIR\lijekovi.exe"'
FunctionEnd

Section "${PRODUCT}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=lijekovi.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; CreateShortCut takes the current output folder as the working folder.
  !insertmacro WorkingFolder
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\lijekovi.exe" "" "$INSTDIR\lijekovi.exe" 0 \
    SW_SHOWNORMAL "" "Suglasnost za uvoz lijekova na recept"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lijekovi.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Prečac na radnoj površini" SecDesktop
  !insertmacro WorkingFolder
  CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\lijekovi.exe" "" "$INSTDIR\lijekovi.exe" 0 \
    SW_SHOWNORMAL "" "Suglasnost za uvoz lijekova na recept"
SectionEnd

; The program, its uninstaller and its shortcuts go; Documents\Lijekovi and
; the register in it stay, whatever is there.
Section "Uninstall"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\lijekovi.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: a register someone kept beside the program stays.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

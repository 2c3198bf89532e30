; The SKAV installer for Windows, made by scripts/build-windows.sh with NSIS (makensis):
; installs the programs, the README and the examples into Program Files, adds Start menu
; entries for the window and a command prompt, registers an uninstaller, and says at the end
; whether Npcap (the capture library the station needs) is present. /S installs silently.
;   makensis -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> -DVERSION=1.0 skav.nsi

; A 64-bit installer for the 64-bit programs: it sees the real System32 and Program Files.
Target amd64-unicode
!include "LogicLib.nsh"

Name "SKAV"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\SKAV"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\SKAV"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "SKAV"
  SetOutPath "$INSTDIR"
  File "${STAGE}\skav.exe"
  File "${STAGE}\skav-gui.exe"
  File "${STAGE}\README.md"
  SetOutPath "$INSTDIR\examples"
  File /r "${STAGE}\examples\*.*"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  ; The PC's address ledger lives in ProgramData\SKAV ($APPDATA for all users), shared by every
  ; account that runs the station: the Users group may create and change files there, and each
  ; file the folder gets inherits that, so that one account can append to a ledger another made.
  CreateDirectory "$APPDATA\SKAV"
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$APPDATA\SKAV" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The station's users could not be given write access to $APPDATA\SKAV ($0)."
  ${EndIf}
  CreateDirectory "$SMPROGRAMS\SKAV"
  CreateShortcut "$SMPROGRAMS\SKAV\SKAV.lnk" "$INSTDIR\skav-gui.exe" "" "$INSTDIR\skav-gui.exe" 0
  CreateShortcut "$SMPROGRAMS\SKAV\SKAV Command Prompt.lnk" "$SYSDIR\cmd.exe" \
    '/K "cd /d "$INSTDIR" && set "PATH=$INSTDIR;%PATH%""'
  CreateShortcut "$SMPROGRAMS\SKAV\Uninstall SKAV.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "SKAV"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "SKAV"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\skav-gui.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The station loads wpcap.dll from Npcap's own folder, else from System32.
  ${If} ${FileExists} "$WINDIR\System32\Npcap\wpcap.dll"
  ${OrIf} ${FileExists} "$WINDIR\System32\wpcap.dll"
    DetailPrint "Npcap is installed: SKAV can use the network adapters."
    MessageBox MB_OK|MB_ICONINFORMATION "SKAV is installed. Npcap is present: the station can use the network adapters." /SD IDOK
  ${Else}
    DetailPrint "Npcap is not installed: get it from https://npcap.com/ before programming boards."
    MessageBox MB_OK|MB_ICONEXCLAMATION "SKAV is installed, but Npcap is not.$\r$\n$\r$\nThe station needs Npcap to reach the boards: get it from https://npcap.com/ and install it (the WinPcap-compatible mode is not needed). skav-gui.exe --simulate works without it." /SD IDOK
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\SKAV\SKAV.lnk"
  Delete "$SMPROGRAMS\SKAV\SKAV Command Prompt.lnk"
  Delete "$SMPROGRAMS\SKAV\Uninstall SKAV.lnk"
  RMDir "$SMPROGRAMS\SKAV"
  Delete "$INSTDIR\skav.exe"
  Delete "$INSTDIR\skav-gui.exe"
  Delete "$INSTDIR\README.md"
  RMDir /r "$INSTDIR\examples"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The operator's settings (HKEY_CURRENT_USER\Software\SKAV) stay: they hold the next address;
  ; so does the address ledger in $APPDATA\SKAV: it holds the addresses already sent to boards.
SectionEnd

; The SKAV installer for Windows, made by scripts/build-windows.sh with NSIS (makensis):
; installs the programs, the README and the examples into Program Files, makes the PC's data
; folder ProgramData\SKAV (the working folder: config.ini, the images, the records and the
; address ledger), adds Start menu entries for the window and a command prompt that start in
; that folder, registers an uninstaller, and says at the end whether Npcap (the capture library
; the station needs) is present. /S installs silently.
;   makensis -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> -DVERSION=1.0 skav.nsi

; A 64-bit installer for the 64-bit programs: it sees the real System32 and Program Files.
Target amd64-unicode
!include "LogicLib.nsh"
!include "WordFunc.nsh"

Name "SKAV"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\SKAV"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "${__FILEDIR__}/npcap.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\SKAV"
; Shared by the installer and the uninstaller: one set-up at a time.
!define SETUP_MUTEX "Global\SKAV-Setup"
; Well-known SIDs, so that the rights do not depend on the system's language.
!define SID_USERS "*S-1-5-32-545"
!define SID_ADMINS "*S-1-5-32-544"
!define SID_SYSTEM "*S-1-5-18"

Var DataDir

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro OneSetupAtATime
  ; The mutex stays held until this process ends; a second set-up finds it and leaves, so that
  ; two of them never copy over the same files or rights at once.
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${SETUP_MUTEX}") p .r1 ?e'
  Pop $0
  ${If} $0 = 183 ; ERROR_ALREADY_EXISTS
    MessageBox MB_OK|MB_ICONSTOP "Another SKAV installer or uninstaller is running: let it finish, then start this one again." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro OneSetupAtATime
FunctionEnd

Function un.onInit
  !insertmacro OneSetupAtATime
FunctionEnd

; Runs icacls with `args` and says so in the details when it fails: the programs still work,
; but the rights are then the folder's defaults.
!macro Rights args what
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" ${args}'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Could not set the rights of ${what} ($0)."
  ${EndIf}
!macroend

Section "SKAV"
  SetOutPath "$INSTDIR"
  File "${STAGE}\skav.exe"
  File "${STAGE}\skav-gui.exe"
  File "${STAGE}\README.md"
  SetOutPath "$INSTDIR\examples"
  File /r "${STAGE}\examples\*.*"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The data folder ($APPDATA for all users is ProgramData) is where the station works: its
  ; config.ini and images, the records it writes there, and the PC's address ledger. The
  ; examples go there only when it has no config.ini yet: a station's own configuration is
  ; never overwritten by a new version.
  SetShellVarContext all
  StrCpy $DataDir "$APPDATA\SKAV"
  CreateDirectory "$DataDir"
  ${IfNot} ${FileExists} "$DataDir\config.ini"
    SetOverwrite off
    SetOutPath "$DataDir"
    File /r "${STAGE}\examples\*.*"
    SetOverwrite on
  ${EndIf}

  ; Every account that runs the station may make files in the data folder and change the files
  ; there (one account appends to the ledger and records that another made), but not the folder
  ; itself; the configuration and the images are read-only but for administrators.
  !insertmacro Rights '"$DataDir" /remove:g ${SID_USERS}' "$DataDir"
  !insertmacro Rights '"$DataDir" /grant ${SID_USERS}:(RX,WD) ${SID_USERS}:(OI)(CI)(IO)M' "$DataDir"
  ${If} ${FileExists} "$DataDir\*.ini"
    !insertmacro Rights '"$DataDir\*.ini" /inheritance:r /grant:r ${SID_ADMINS}:F ${SID_SYSTEM}:F ${SID_USERS}:RX' "$DataDir\*.ini"
  ${EndIf}
  ${If} ${FileExists} "$DataDir\images\*.*"
    !insertmacro Rights '"$DataDir\images" /inheritance:r /grant:r ${SID_ADMINS}:(OI)(CI)F ${SID_SYSTEM}:(OI)(CI)F ${SID_USERS}:(OI)(CI)RX' "$DataDir\images"
  ${EndIf}

  ; The shortcuts start in the data folder (the current output path is their working folder).
  CreateDirectory "$SMPROGRAMS\SKAV"
  SetOutPath "$DataDir"
  CreateShortcut "$SMPROGRAMS\SKAV\SKAV.lnk" "$INSTDIR\skav-gui.exe" "" "$INSTDIR\skav-gui.exe" 0
  CreateShortcut "$SMPROGRAMS\SKAV\SKAV Command Prompt.lnk" "$SYSDIR\cmd.exe" \
    '/K set "PATH=$INSTDIR;%PATH%"'
  SetOutPath "$INSTDIR"
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

  Call FindNpcap
  ${If} $R1 == "ok"
    DetailPrint "Npcap $R0 is installed: SKAV can use the network adapters."
    MessageBox MB_OK|MB_ICONINFORMATION "SKAV is installed in $INSTDIR; its working folder is $DataDir. Npcap $R0 is present: the station can use the network adapters." /SD IDOK
  ${Else}
    ${If} $R1 == "missing"
      StrCpy $3 "Npcap is not installed"
    ${Else}
      StrCpy $3 "Npcap $R0 is older than ${NPCAP_OLDEST}"
    ${EndIf}
    DetailPrint "$3: install Npcap from https://npcap.com/ before programming boards."
    MessageBox MB_OK|MB_ICONEXCLAMATION "SKAV is installed in $INSTDIR; its working folder is $DataDir. But $3.$\r$\n$\r$\nThe station needs Npcap ${NPCAP_OLDEST} or later to reach the boards: download it from https://npcap.com/ and install it (its WinPcap API-compatible mode is not needed: SKAV finds Npcap in its own folder). skav-gui.exe --simulate works without it." /SD IDOK
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  StrCpy $DataDir "$APPDATA\SKAV"
  Delete "$SMPROGRAMS\SKAV\SKAV.lnk"
  Delete "$SMPROGRAMS\SKAV\SKAV Command Prompt.lnk"
  Delete "$SMPROGRAMS\SKAV\Uninstall SKAV.lnk"
  RMDir "$SMPROGRAMS\SKAV"
  Delete "$INSTDIR\skav.exe"
  Delete "$INSTDIR\skav-gui.exe"
  Delete "$INSTDIR\README.md"
  RMDir /r "$INSTDIR\examples"
  ; This is a copy of the uninstaller, started by uninstall.exe, which may still be ending: its
  ; file can go, and the folder with it, once it has (at most five seconds).
  ${For} $R0 1 50
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
      ${Break}
    ${EndIf}
    Sleep 100
  ${Next}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; What the station made stays: the next address lives in the settings, the ledger holds the
  ; addresses already sent to boards, and the records are the line's evidence.
  DetailPrint "Kept: config.ini, the images, the records and the address ledger in $DataDir; each user's settings in HKEY_CURRENT_USER\Software\SKAV and pool hold in %APPDATA%\SKAV."
  MessageBox MB_OK|MB_ICONINFORMATION "SKAV is removed. What the station made is kept:$\r$\n$\r$\n- config.ini, the images, the records and the address ledger in $DataDir$\r$\n- each user's settings (the next MAC address) in HKEY_CURRENT_USER\Software\SKAV$\r$\n- each user's pool hold file in %APPDATA%\SKAV$\r$\n$\r$\nDelete them by hand once the line no longer needs them." /SD IDOK
SectionEnd

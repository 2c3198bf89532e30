; Finds Npcap for the installer by Npcap's own registration, not by any wpcap.dll in System32
; (which could be an old capture library the station cannot use, or another program's copy).
; Needs LogicLib.nsh and WordFunc.nsh.

; Npcap's uninstall entry: its DisplayVersion is the installed release.
!define NPCAP_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\NpcapInst"
!define NPCAP_OLDEST "1.00"

; Sets $R0 to Npcap's version ("" when it is not registered) and $R1 to "ok" when that is
; ${NPCAP_OLDEST} or later, "old" when earlier, "missing" when there is none. Looks in both
; registry views: Npcap's installers have been 32-bit programs.
Function FindNpcap
  ReadRegStr $R0 HKLM "${NPCAP_KEY}" "DisplayVersion"
  ${If} $R0 == ""
    SetRegView 32
    ReadRegStr $R0 HKLM "${NPCAP_KEY}" "DisplayVersion"
    SetRegView 64
  ${EndIf}
  ${If} $R0 == ""
    StrCpy $R1 "missing"
  ${Else}
    ${VersionCompare} "$R0" "${NPCAP_OLDEST}" $R1
    ${If} $R1 = 2
      StrCpy $R1 "old"
    ${Else}
      StrCpy $R1 "ok"
    ${EndIf}
  ${EndIf}
FunctionEnd

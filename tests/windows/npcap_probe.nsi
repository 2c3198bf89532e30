; The installer's Npcap finding on its own, for tests/windows/npcap.sh: registers Npcap the
; way each case says (one Wine start for all of them), calls FindNpcap, and writes a line
; "STATE VERSION" ($R1 and $R0) per case to npcap-found.txt beside itself.
;   makensis -DOUTFILE=<probe.exe> -DINSTALLER=<the installer folder> npcap_probe.nsi
Target amd64-unicode
!include "LogicLib.nsh"
!include "WordFunc.nsh"
!include "${INSTALLER}/npcap.nsh"

Name "Npcap probe"
OutFile "${OUTFILE}"
SilentInstall silent
RequestExecutionLevel admin

Function Unregister
  DeleteRegKey HKLM "${NPCAP_KEY}"
  SetRegView 32
  DeleteRegKey HKLM "${NPCAP_KEY}"
  SetRegView 64
FunctionEnd

; Registers `version` in the registry view `view` (32 or 64; none for no registration), then
; writes what FindNpcap makes of it.
!macro Case view version
  Call Unregister
  !if "${view}" != "none"
    SetRegView ${view}
    WriteRegStr HKLM "${NPCAP_KEY}" "DisplayVersion" "${version}"
    SetRegView 64
  !endif
  Call FindNpcap
  FileWrite $0 "$R1 $R0$\n"
!macroend

Section
  SetRegView 64
  FileOpen $0 "$EXEDIR\npcap-found.txt" w
  !insertmacro Case none ""
  !insertmacro Case 64 "0.9986"
  !insertmacro Case 64 "1.00"
  !insertmacro Case 64 "1.79"
  !insertmacro Case 32 "1.79"
  FileClose $0
  Call Unregister
SectionEnd

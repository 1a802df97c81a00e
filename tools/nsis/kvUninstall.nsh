; For NSIS installers of products that kvUninstall.exe removes. Define KV_SDK as the folder the
; kvUninstall SDK was installed to (cmake --install ... --prefix KV_SDK) before including this.
;
;   !insertmacro KvUninstallShip                        kvUninstall.exe and zlib1.dll into $INSTDIR
;   !insertmacro KvUninstallFolderRecord KEY NAME MENU  kvUninstall.dat: the whole $INSTDIR goes
;   !insertmacro KvUninstallListRecord KEY NAME MENU "OPTIONS"
;                                                       kvUninstall.dat: what OPTIONS list goes
;                                                       (kvrecord's --file, --folder, --shortcut)
;   !insertmacro KvUninstallRegister                    the Uninstall key: DisplayName,
;                                                       UninstallString, QuietUninstallString (/S)
; KEY names the product's key under HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall,
; NAME is the name shown, MENU the product's folder below the Start Menu's Programs (or "").
; The record is written at install time by kvrecord, which stays in $PLUGINSDIR.
!ifndef KV_SDK
  !error "define KV_SDK: the folder the kvUninstall SDK was installed to"
!endif

!macro KvUninstallShip
  SetOutPath "$INSTDIR"
  File "${KV_SDK}\bin\kvUninstall.exe"
  File "${KV_SDK}\bin\zlib1.dll"
!macroend

!macro _KvRecord ARGUMENTS
  InitPluginsDir
  File "/oname=$PLUGINSDIR\kvrecord.exe" "${KV_SDK}\bin\kvrecord.exe"
  nsExec::ExecToLog '"$PLUGINSDIR\kvrecord.exe" ${ARGUMENTS}'
  Pop $0
  StrCmp $0 "0" +2
    Abort "kvUninstall: kvrecord failed ($0)"
!macroend

!macro KvUninstallFolderRecord KEY NAME MENU
  !insertmacro _KvRecord 'write "$INSTDIR\kvUninstall.dat" --key "${KEY}" --name "${NAME}" --menu "${MENU}" --dir "$INSTDIR"'
!macroend

!macro KvUninstallListRecord KEY NAME MENU OPTIONS
  !insertmacro _KvRecord 'write "$INSTDIR\kvUninstall.dat" --key "${KEY}" --name "${NAME}" --menu "${MENU}" ${OPTIONS}'
!macroend

!macro KvUninstallRegister
  !insertmacro _KvRecord 'key "$INSTDIR\kvUninstall.dat" --write'
!macroend

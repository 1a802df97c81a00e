; A sample installer built on kvUninstall.nsh: installs "Brix Sample" with a Start Menu folder and
; a desktop link, and leaves its removal to kvUninstall.exe.
;   makensis /DKV_SDK=<SDK folder> /DOUT=<setup.exe> sample.nsi
Unicode true
RequestExecutionLevel admin
SilentInstall normal
!include "kvUninstall.nsh"

Name "Brix Sample"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES\Brix Sample"

Section "Brix Sample"
  !insertmacro KvUninstallShip
  SetOutPath "$INSTDIR\data"
  FileOpen $1 "$INSTDIR\data\levels.dat" w
  FileWrite $1 "level 1$\r$\nlevel 2$\r$\n"
  FileClose $1
  ; The uninstaller removes the user's Start Menu folder and the link on the all-users desktop.
  SetShellVarContext current
  CreateDirectory "$SMPROGRAMS\Brix Sample"
  CreateShortCut "$SMPROGRAMS\Brix Sample\Uninstall Brix Sample.lnk" "$INSTDIR\kvUninstall.exe"
  SetShellVarContext all
  CreateShortCut "$DESKTOP\Brix Sample.lnk" "$INSTDIR\kvUninstall.exe"
  !insertmacro KvUninstallFolderRecord "BrixSample" "Brix Sample" "Brix Sample"
  !insertmacro KvUninstallRegister
SectionEnd

; The QRX7730 installer for 64-bit Windows, built by makensis from the Windows build
; (windows/CMakeLists.txt passes the defines below).
;
; It installs QRX7730L.DLL into System32 (where every program and the TWAIN data
; source find it), the tone-curve data file, qrxscan.exe, the driver package and an
; uninstaller into the install directory, the data source into Windows\twain_64,
; and writes the library's registry values and the entry of "Apps & features".
; Silent with /S. The driver package (install directory\driver) is unsigned, so it
; is not staged in the driver store here: the user points the Device Manager at it.
;
; Command line (besides /S and /D=<directory>):
;   /DEVICE=<path>    write the device path the data source opens (for example sim:,
;                     the emulated scanner); no device path is written otherwise
;
; Defines: VERSION, OUTFILE, PACKAGE_DIR (the driver package: the INF and the files it
; names), QRXSCAN (qrxscan.exe), and HAVE_TWAIN_SOURCE when the package holds
; QRX7730.ds.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!define DEVICE_KEY "SOFTWARE\Quarn\Imagent\Devices\QRX7730"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QRX7730"
!define DEFAULT_DIRECTORY "$PROGRAMFILES64\Quarn\QRX7730"

Name "QRX7730 Scanner Driver"
OutFile "${OUTFILE}"
InstallDir "${DEFAULT_DIRECTORY}"
; An earlier installation is updated where it is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "QRX7730 Scanner Driver"
VIAddVersionKey "CompanyName" "Quarn"
VIAddVersionKey "FileDescription" "QRX7730 Scanner Driver installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Quarn"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "The QRX7730 driver needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Section "Install"
  SetRegView 64
  SetOverwrite on

  ; The outermost folder of the install path that this installation makes, so that
  ; the uninstaller takes away exactly the folders made here (an update keeps the
  ; first installation's answer).
  StrCpy $R2 ""
  StrCpy $R3 "$INSTDIR"
  ${DoWhile} $R3 != ""
    ${If} ${FileExists} "$R3\*.*"
      ${Break}
    ${EndIf}
    StrCpy $R2 "$R3"
    ${GetParent} "$R3" $R3
  ${Loop}

  ; The library, where every program and the data source load it from.
  SetOutPath "$SYSDIR"
  File "${PACKAGE_DIR}/QRX7730L.DLL"

  SetOutPath "$INSTDIR"
  File "${PACKAGE_DIR}/QRX7730N.dat"
  File "${QRXSCAN}"
  SetOutPath "$INSTDIR\driver"
  File "${PACKAGE_DIR}/qrx7730.inf"
  File "${PACKAGE_DIR}/QRX7730L.DLL"
  File "${PACKAGE_DIR}/QRX7730N.dat"

!ifdef HAVE_TWAIN_SOURCE
  File "${PACKAGE_DIR}/QRX7730.ds"
  ; The folder of 64-bit TWAIN sources; removed again on uninstall only if made here.
  ${IfNot} ${FileExists} "$WINDIR\twain_64\*.*"
    CreateDirectory "$WINDIR\twain_64"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedTwainDirectory" 1
  ${EndIf}
  SetOutPath "$WINDIR\twain_64"
  File "${PACKAGE_DIR}/QRX7730.ds"
!endif
  SetOutPath "$INSTDIR"

  ; The library reads its data file's directory, with the trailing backslash, from
  ; the 32-bit view of the registry.
  SetRegView 32
  WriteRegStr HKLM "${DEVICE_KEY}" "InstallDirectory" "$INSTDIR\"
  SetRegView 64

  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DEVICE=" $R1
  ${IfNot} ${Errors}
  ${AndIf} $R1 != ""
    WriteRegStr HKLM "${DEVICE_KEY}" "DevicePath" "$R1"
    DetailPrint "Device path: $R1"
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "QRX7730 Scanner Driver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quarn"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  ${If} $R2 != ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "CreatedFolder" "$R2"
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

SectionEnd

Section "Uninstall"
  SetRegView 64

  Delete /REBOOTOK "$SYSDIR\QRX7730L.DLL"
  Delete /REBOOTOK "$WINDIR\twain_64\QRX7730.ds"
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "CreatedTwainDirectory"
  ${If} $0 = 1
    RMDir "$WINDIR\twain_64"
  ${EndIf}

  Delete "$INSTDIR\driver\qrx7730.inf"
  Delete "$INSTDIR\driver\QRX7730L.DLL"
  Delete "$INSTDIR\driver\QRX7730N.dat"
  Delete "$INSTDIR\driver\QRX7730.ds"
  RMDir "$INSTDIR\driver"
  Delete "$INSTDIR\QRX7730N.dat"
  Delete /REBOOTOK "$INSTDIR\qrxscan.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  ; The folders above the install folder that the installation made, while empty.
  ReadRegStr $R2 HKLM "${UNINSTALL_KEY}" "CreatedFolder"
  StrLen $R4 "$R2"
  StrCpy $R5 "$INSTDIR" $R4
  ${If} $R2 != ""
  ${AndIf} $R5 == $R2
    StrCpy $R3 "$INSTDIR"
    ${DoWhile} $R3 != $R2
      ${GetParent} "$R3" $R3
      ${If} $R3 == ""
        ${Break}
      ${EndIf}
      RMDir "$R3"
    ${Loop}
  ${EndIf}

  ; The values this installer wrote, then the keys they leave empty.
  DeleteRegValue HKLM "${DEVICE_KEY}" "DevicePath"
  Call un.DeleteEmptyDeviceKeys
  SetRegView 32
  DeleteRegValue HKLM "${DEVICE_KEY}" "InstallDirectory"
  Call un.DeleteEmptyDeviceKeys
  SetRegView 64
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Function un.DeleteEmptyDeviceKeys
  DeleteRegKey /ifempty HKLM "${DEVICE_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Quarn\Imagent\Devices"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Quarn\Imagent"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Quarn"
FunctionEnd

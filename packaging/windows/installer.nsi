; The Windows installer of one copy of the programmer (the image it carries
; is part of its identity). makensis gets, from scripts/build-installer.sh:
;   VERSION     the program's version, e.g. 1.6
;   IMAGE       the image's display name, e.g. "4620 V2.5"
;   IMAGE_ID    the same as a file and registry name, e.g. 4620-V2.5
;   ICON        the application icon (.ico)
;   FILES       an include file of the File lines, folder by folder
;   UNFILES     an include file that deletes those files by name
;   OUTFILE     the installer to write
;   SIGN        (optional) a command that signs the file named by %1
; Installs for the operator alone (no administrator rights) unless started
; with /AllUsers from an administrator's prompt; /S is silent.
; A 64-bit installer for the 64-bit programs (and for a Wine without 32-bit support).
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
; The files keep no time of their own: the same commit gives the same installer.
SetDateSave off

!define PRODUCT "Morvex Flash Programmer ${IMAGE}"
!define PUBLISHER "Morvex Instruments"
; One product per image, so that copies carrying different images sit side
; by side, and a newer copy of the same image replaces the older one.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MorvexFlash-${IMAGE_ID}"
!define STARTMENU_FOLDER "Morvex Instruments"
!define SHORTCUT "$SMPROGRAMS\${STARTMENU_FOLDER}\Flash Programmer ${IMAGE}.lnk"
!define PROMPT_SHORTCUT "$SMPROGRAMS\${STARTMENU_FOLDER}\Flash Programmer ${IMAGE} Command Prompt.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PUBLISHER}"

!ifdef SIGN
  ; A signing failure fails the build.
  !finalize '${SIGN} "%1"' = 0
  !uninstfinalize '${SIGN} "%1"' = 0
!endif

; Never asks for an administrator: an installation for all users is made
; only when the installer already has the rights (/AllUsers, started from an
; administrator's prompt); otherwise MultiUser says the account lacks them.
!define MULTIUSER_EXECUTIONLEVEL Standard
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "Morvex Flash Programmer ${IMAGE_ID}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\morvex-flash.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "Installs ${PRODUCT}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) Morvex Instruments. All rights reserved."

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; A program that runs cannot be replaced: find that out before anything is
; written, so that an installation is whole or not made at all. A running
; program's file cannot be opened for writing.
!macro WAIT_UNTIL_CLOSED PREFIX
Function ${PREFIX}WaitUntilClosed
  ${Do}
    ClearErrors
    ${IfNot} ${FileExists} "$INSTDIR\morvex-flash.exe"
      Return
    ${EndIf}
    FileOpen $0 "$INSTDIR\morvex-flash.exe" a
    ${IfNot} ${Errors}
      FileClose $0
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT} is running. Close it, then choose Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    DetailPrint "${PRODUCT} is running in $INSTDIR: nothing was changed."
    Abort "${PRODUCT} is running in $INSTDIR: nothing was changed."
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_UNTIL_CLOSED ""
!insertmacro WAIT_UNTIL_CLOSED "un."

Section "Install"
  Call WaitUntilClosed
  ; An earlier copy of this image: its own uninstaller takes away what it
  ; put there, in place (_?= keeps it from copying itself away first).
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    DetailPrint "Removing the earlier copy in $0"
    ExecWait '"$0\uninstall.exe" /S /$MultiUser.InstallMode _?=$0' $1
    Delete "$0\uninstall.exe"
  ${EndIf}

  !include "${FILES}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${STARTMENU_FOLDER}"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\morvex-flash.exe" "" "$INSTDIR\morvex-flash.exe" 0
  ; A command prompt in the installation folder, where morvex-flash-cli is.
  CreateShortcut "${PROMPT_SHORTCUT}" "$SYSDIR\cmd.exe" '/k "morvex-flash-cli.exe --help"' \
    "$INSTDIR\morvex-flash-cli.exe" 0

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\morvex-flash.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; Takes away what the installer put there, file by file: whatever else the
; operator keeps in the folder stays, and so does the folder then.
Section "Uninstall"
  Call un.WaitUntilClosed
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The operator's own "Programs" folder, made for the first program
  ; installed there, goes when nothing else is left in it.
  ${If} $MultiUser.InstallMode == CurrentUser
    ${GetParent} "$INSTDIR" $0
    RMDir "$0"
  ${EndIf}
  Delete "${SHORTCUT}"
  Delete "${PROMPT_SHORTCUT}"
  RMDir "$SMPROGRAMS\${STARTMENU_FOLDER}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd

; Tivorel's setup program. The build makes it (make_setup.cmake) from the clean program folder:
;   makensis -DVERSION=1.0.0 -DVERSION_FOUR=1.0.0.0 -DARCH=x86|amd64 -DROOT=<program folder>
;            -DFILE_LIST=<uninstall list> -DICON=<icon> -DOUTFILE=<setup.exe> tivorel.nsi
;
; Switches of the setup program: /S silent; /AllUsers installs for every user of the computer
; (needs administrator rights; the default is the current user only, which needs none);
; /D=<folder> the target folder (the last switch, not quoted, may hold blanks).
; The uninstaller takes /S.
;
; Over an earlier installation the earlier uninstaller first takes its program files away (files
; the new version no longer has must not stay behind), then the new files come. The user's data
; stays in both cases: the downloads database and the contact backups in Profiles\, the logs in
; the temporary folder, the settings in the application-data folder. Only the files this setup
; put there are removed, never a whole folder.

Unicode true
!if "${ARCH}" == "amd64"
  Target amd64-unicode
  !define PROGRAM_FILES "$PROGRAMFILES64"
!else
  Target x86-unicode
  !define PROGRAM_FILES "$PROGRAMFILES"
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Tivorel"
!define PUBLISHER "Qorvan"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tivorel"
!define UNINSTALLER "uninstall.exe"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_FOUR}"
VIFileVersion "${VERSION_FOUR}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

Var AllUsers      ; 1: for every user (HKLM, all users' Start menu), else the current user
Var ChosenDir     ; the folder of /D=, empty without it
Var RadioMe
Var RadioAll
Var UpdateServer  ; the earlier installation's own update server, kept over the upgrade
Var Upgrade       ; uninstaller: 1 when a newer setup runs it before installing

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tivorel.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString ModeTitle ${LANG_ENGLISH} "Who may use ${PRODUCT}"
LangString ModeTitle ${LANG_SIMPCHINESE} "为谁安装 ${PRODUCT}"
LangString ModeText ${LANG_ENGLISH} "Install ${PRODUCT} for:"
LangString ModeText ${LANG_SIMPCHINESE} "安装 ${PRODUCT}："
LangString ModeMe ${LANG_ENGLISH} "Only me (no administrator rights needed)"
LangString ModeMe ${LANG_SIMPCHINESE} "仅我自己（无需管理员权限）"
LangString ModeAll ${LANG_ENGLISH} "Everyone who uses this computer (administrator rights needed)"
LangString ModeAll ${LANG_SIMPCHINESE} "这台电脑的所有用户（需要管理员权限）"
LangString NeedAdmin ${LANG_ENGLISH} "Installing for everyone needs administrator rights. Start the setup program as administrator, or install for yourself only."
LangString NeedAdmin ${LANG_SIMPCHINESE} "为所有用户安装需要管理员权限。请以管理员身份运行安装程序，或仅为自己安装。"
LangString UninstallNeedsAdmin ${LANG_ENGLISH} "${PRODUCT} is installed for every user of this computer: removing it needs administrator rights."
LangString UninstallNeedsAdmin ${LANG_SIMPCHINESE} "${PRODUCT} 为这台电脑的所有用户安装：卸载需要管理员权限。"

!macro IS_ADMIN result
  UserInfo::GetAccountType
  Pop ${result}
!macroend

; The shell folders and the registry root (SHCTX) of the chosen mode, and the default folder:
; the earlier installation's, else the mode's usual place.
Function ApplyMode
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  ${If} $ChosenDir != ""
    StrCpy $INSTDIR $ChosenDir
    Return
  ${EndIf}
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${ElseIf} $AllUsers == 1
    StrCpy $INSTDIR "${PROGRAM_FILES}\${PRODUCT}"
  ${Else}
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
  ${EndIf}
FunctionEnd

Function .onInit
  StrCpy $ChosenDir $INSTDIR
  StrCpy $AllUsers 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AllUsers" $R1
  ${IfNot} ${Errors}
    !insertmacro IS_ADMIN $R2
    ${If} $R2 != "Admin"
      ${IfNot} ${Silent}
        MessageBox MB_ICONSTOP|MB_OK "$(NeedAdmin)"
      ${EndIf}
      SetErrorLevel 2
      Quit
    ${EndIf}
    StrCpy $AllUsers 1
  ${EndIf}
  Call ApplyMode
FunctionEnd

Function ModePage
  !insertmacro MUI_HEADER_TEXT "$(ModeTitle)" ""
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 12u "$(ModeText)"
  Pop $0
  ${NSD_CreateRadioButton} 10u 20u -10u 12u "$(ModeMe)"
  Pop $RadioMe
  ${NSD_CreateRadioButton} 10u 36u -10u 12u "$(ModeAll)"
  Pop $RadioAll
  ${If} $AllUsers == 1
    ${NSD_Check} $RadioAll
  ${Else}
    ${NSD_Check} $RadioMe
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $RadioAll $0
  ${If} $0 == ${BST_CHECKED}
    !insertmacro IS_ADMIN $1
    ${If} $1 != "Admin"
      MessageBox MB_ICONEXCLAMATION|MB_OK "$(NeedAdmin)"
      Abort
    ${EndIf}
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  Call ApplyMode
FunctionEnd

Section
  ; An earlier installation of this mode: its uninstaller removes its program files and keeps
  ; the user's data. "_?=" runs it in place, so that it is waited for.
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\${UNINSTALLER}"
    ReadINIStr $UpdateServer "$0\Profiles\config.ini" "basic" "updateserver"
    ExecWait '"$0\${UNINSTALLER}" /S /Upgrade _?=$0'
    Delete "$0\${UNINSTALLER}"
    RMDir "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File /r "${ROOT}/*"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  ; config.ini carries the new version; an update server the user had set stays.
  ${If} $UpdateServer != ""
    WriteINIStr "$INSTDIR\Profiles\config.ini" "basic" "updateserver" $UpdateServer
  ${EndIf}

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\tivorel.exe" "" "$INSTDIR\tivorel.exe" 0

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tivorel.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; The uninstaller finds its mode from the registry: the installation whose folder is its own.
Function un.onInit
  StrCpy $Upgrade 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/Upgrade" $R1
  ${IfNot} ${Errors}
    StrCpy $Upgrade 1
  ${EndIf}
  SetShellVarContext current
  StrCpy $AllUsers 0
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 != $INSTDIR
      StrCpy $AllUsers 1
      SetShellVarContext all
      !insertmacro IS_ADMIN $2
      ${If} $2 != "Admin"
        ${IfNot} ${Silent}
          MessageBox MB_ICONSTOP|MB_OK "$(UninstallNeedsAdmin)"
        ${EndIf}
        SetErrorLevel 2
        Quit
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

Section Uninstall
  ; Every file this setup installed, then its folders where they are left empty: a folder that
  ; holds the user's data (Profiles\ with the downloads database) stays, with that data.
  !include /CHARSET=UTF8 "${FILE_LIST}"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  ; A newer setup that runs this writes its own entries at once.
  ${If} $Upgrade != 1
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd

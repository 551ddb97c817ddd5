; The Windows setup program of Cradlecourier (makensis, from the Windows build; see
; CMakeLists.txt beside this file). Defines given by the build:
;   VERSION   the project's version            OUTFILE  the setup program to write
;   STAGE     the files to install (stage.cmake)
;   NSH_DIR   install_files.nsh and uninstall_files.nsh (stage.cmake)
;   MAIN_PROGRAM  the program the entry's icon is taken from; HAVE_WINDOW when ccourier.exe is there
;
; Installs for the current user without administrator rights by default, under
; %LOCALAPPDATA%\Programs\Cradlecourier, registered in that user's Apps & features. Started
; elevated it offers to install for all users under Program Files instead. Silent installs:
; /S, with /ALLUSERS for all users (needs elevation) and /D=FOLDER for another folder.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define PRODUCT "Cradlecourier"
!define PUBLISHER "The Cradlecourier project"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Cradlecourier"
!define SETTINGS_KEY "Software\Cradlecourier"
!define CLASSES "Software\Classes"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "GNU General Public License, version 3 or later"

Var AllUsers      ; 1: for every user of the machine
Var IsAdmin       ; 1: the setup runs elevated
Var RadioUser
Var RadioAll

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString ModeTitle ${LANG_ENGLISH} "Who may use Cradlecourier?"
LangString ModeTitle ${LANG_GERMAN} "Wer darf Cradlecourier benutzen?"
LangString ModeText ${LANG_ENGLISH} "Install it for you alone, or for every user of this computer."
LangString ModeText ${LANG_GERMAN} "Installieren Sie es nur für sich oder für alle Benutzer dieses Computers."
LangString ModeUser ${LANG_ENGLISH} "Only for &me (no administrator rights needed)"
LangString ModeUser ${LANG_GERMAN} "Nur für &mich (ohne Administratorrechte)"
LangString ModeAll ${LANG_ENGLISH} "For &all users of this computer"
LangString ModeAll ${LANG_GERMAN} "Für &alle Benutzer dieses Computers"
LangString NeedAdmin ${LANG_ENGLISH} "Installing for all users needs administrator rights: start the setup as administrator."
LangString NeedAdmin ${LANG_GERMAN} "Die Installation für alle Benutzer braucht Administratorrechte: Starten Sie das Setup als Administrator."
LangString UnNeedAdmin ${LANG_ENGLISH} "Cradlecourier was installed for all users: start the uninstaller as administrator."
LangString UnNeedAdmin ${LANG_GERMAN} "Cradlecourier wurde für alle Benutzer installiert: Starten Sie die Deinstallation als Administrator."
LangString Guide ${LANG_ENGLISH} "Cradlecourier user guide"
LangString Guide ${LANG_GERMAN} "Cradlecourier Benutzerhandbuch"
LangString GuidePage ${LANG_ENGLISH} "en"
LangString GuidePage ${LANG_GERMAN} "de"
LangString Console ${LANG_ENGLISH} "Cradlecourier console"
LangString Console ${LANG_GERMAN} "Cradlecourier Konsole"

; The account's rights decide whether the all-users choice is offered.
!macro CheckAdmin
  StrCpy $IsAdmin 0
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 == "Admin"
    StrCpy $IsAdmin 1
  ${EndIf}
!macroend

; Shell folders (Start menu) and the registry root of the chosen mode.
!macro UseMode
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
!macroend

Function .onInit
  SetRegView 64
  !insertmacro CheckAdmin
  StrCpy $AllUsers 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${IfNot} ${Errors}
    ${If} $IsAdmin != 1
      IfSilent +2
      MessageBox MB_ICONSTOP "$(NeedAdmin)"
      SetErrorLevel 740
      Abort
    ${EndIf}
    StrCpy $AllUsers 1
    ; /D= has set INSTDIR already when it was given.
    ${If} $INSTDIR == "$LOCALAPPDATA\Programs\${PRODUCT}"
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function ModePage
  ${If} $IsAdmin != 1
    Abort  ; nothing to choose: for this user
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "$(ModeTitle)" "$(ModeText)"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 10u 100% 12u "$(ModeUser)"
  Pop $RadioUser
  ${NSD_CreateRadioButton} 0 30u 100% 12u "$(ModeAll)"
  Pop $RadioAll
  ${If} $AllUsers == 1
    ${NSD_Check} $RadioAll
  ${Else}
    ${NSD_Check} $RadioUser
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $RadioAll $0
  ${If} $0 == ${BST_CHECKED}
    ${If} $AllUsers != 1
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${EndIf}
    StrCpy $AllUsers 1
  ${Else}
    ${If} $AllUsers == 1
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
    StrCpy $AllUsers 0
  ${EndIf}
FunctionEnd

; The Apps & features entry, under the mode's root.
!macro WriteUninstallEntry ROOT
  WriteRegStr ${ROOT} "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "URLInfoAbout" "https://cradlecourier.org/"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "HelpLink" "mailto:support@cradlecourier.org"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${MAIN_PROGRAM}"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr ${ROOT} "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD ${ROOT} "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD ${ROOT} "${UNINST_KEY}" "NoRepair" 1
  WriteRegDWORD ${ROOT} "${UNINST_KEY}" "EstimatedSize" $0
!macroend

Section "Cradlecourier"
  SetRegView 64
  !insertmacro UseMode
  !include "${NSH_DIR}/install_files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  !ifdef HAVE_WINDOW
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\ccourier.exe"
  !else
    ; A build without the window: a console window with the console's usage.
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\$(Console).lnk" "$SYSDIR\cmd.exe" \
      '/k ""$INSTDIR\ccourier-cli.exe" --help"' "$INSTDIR\ccourier-cli.exe"
  !endif
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\$(Guide).lnk" "$INSTDIR\guide\$(GuidePage)\index.html"

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  ${If} $AllUsers == 1
    !insertmacro WriteUninstallEntry HKLM
  ${Else}
    !insertmacro WriteUninstallEntry HKCU
  ${EndIf}
SectionEnd

; The uninstaller -----------------------------------------------------------------------

Function un.onInit
  SetRegView 64
  !insertmacro CheckAdmin
  ; Installed for all users when the machine's entry names this folder.
  StrCpy $AllUsers 0
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    StrCpy $AllUsers 1
    ${If} $IsAdmin != 1
      IfSilent +2
      MessageBox MB_ICONSTOP "$(UnNeedAdmin)"
      SetErrorLevel 740
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

;  $2 := 1 when the key is there: it has a sub-key, a default value or any value.
!macro KeyThere ROOT KEY
  ClearErrors
  EnumRegKey $1 ${ROOT} "${KEY}" 0
  ${IfNot} ${Errors}
    StrCpy $2 1
  ${EndIf}
  ClearErrors
  ReadRegStr $1 ${ROOT} "${KEY}" ""
  ${IfNot} ${Errors}
    StrCpy $2 1
  ${EndIf}
  ClearErrors
  EnumRegValue $1 ${ROOT} "${KEY}" 0
  ${IfNot} ${Errors}
    StrCpy $2 1
  ${EndIf}
!macroend

; A Palm type the program took (its default value is ours) goes back to the Palm Desktop's
; type when that is there, and is emptied otherwise.
!macro GiveBackPalmType EXT PALM_TYPE
  ReadRegStr $0 HKCU "${CLASSES}\.${EXT}" ""
  ${If} $0 == "CCOURIER.${EXT}"
    ; The classes the shell sees are the user's and the machine's together.
    StrCpy $2 0
    !insertmacro KeyThere HKCU "${CLASSES}\${PALM_TYPE}"
    !insertmacro KeyThere HKLM "${CLASSES}\${PALM_TYPE}"
    ${If} $2 == 1
      WriteRegStr HKCU "${CLASSES}\.${EXT}" "" "${PALM_TYPE}"
    ${Else}
      DeleteRegValue HKCU "${CLASSES}\.${EXT}" ""
      DeleteRegKey /ifempty HKCU "${CLASSES}\.${EXT}"
    ${EndIf}
  ${EndIf}
  DeleteRegKey HKCU "${CLASSES}\CCOURIER.${EXT}"
!macroend

; The file types the program registered for the user who uninstalls (the program writes them
; under that user's classes key at its start).
Function un.RemoveFileTypes
  ; The program gives the Palm types back itself first (to what each had before it took
  ; them, as its settings remember); the lines below then remove what is left of ours.
  !ifdef HAVE_WINDOW
    ExecWait '"$INSTDIR\ccourier.exe" --unregister-types'
  !endif
  !insertmacro GiveBackPalmType prc prcFile
  !insertmacro GiveBackPalmType pdb pdbFile
  !insertmacro GiveBackPalmType pqa pqaFile
  ReadRegStr $0 HKCU "${CLASSES}\.cca" ""
  ${If} $0 == "CCOURIER.cca"
    DeleteRegValue HKCU "${CLASSES}\.cca" ""
  ${EndIf}
  ReadRegStr $0 HKCU "${CLASSES}\.cca" "Content Type"
  ${If} $0 == "application/x-cca"
    DeleteRegValue HKCU "${CLASSES}\.cca" "Content Type"
  ${EndIf}
  DeleteRegKey /ifempty HKCU "${CLASSES}\.cca"
  DeleteRegKey HKCU "${CLASSES}\CCOURIER.cca"
FunctionEnd

Section "Uninstall"
  SetRegView 64
  !insertmacro UseMode
  Call un.RemoveFileTypes
  !include "${NSH_DIR}/uninstall_files.nsh"
  ; What the program writes beside itself: the picture viewer and the help file.
  Delete "$INSTDIR\VIEWER.PRC"
  Delete "$INSTDIR\CCOURIER.HLP"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Cradlecourier console.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Cradlecourier Konsole.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Cradlecourier user guide.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Cradlecourier Benutzerhandbuch.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  ; The settings of the user who uninstalls; backup copies and users' folders stay.
  DeleteRegKey HKCU "${SETTINGS_KEY}\CCourier"
  DeleteRegKey /ifempty HKCU "${SETTINGS_KEY}"
  ${If} $AllUsers == 1
    DeleteRegKey HKLM "${UNINST_KEY}"
  ${Else}
    DeleteRegKey HKCU "${UNINST_KEY}"
  ${EndIf}
SectionEnd

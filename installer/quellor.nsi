; The Quellor installer: puts out_quellor3.dll into the Plugins folder of the player and registers
; an uninstaller in the system's list of programs that takes away only what the installer put
; there. The player's settings file is never touched.
; scripts/dist.sh builds it with makensis and these definitions:
;   VERSION  the release version (x.y.z)      DLL      the plug-in file to install
;   OUTFILE  the installer to write            DLL_KB   the plug-in's size in KiB
; Silent mode: /S installs into the player's folder found on this computer, /D=FOLDER into FOLDER
; (last on the command line); either way only into a folder that holds the player's executable.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PLAYER_EXE "winamp.exe"
!define PLUGIN_DLL "out_quellor3.dll"
!define UNINSTALLER "uninstall_quellor3.exe"
!define PLUGINS "$INSTDIR\Plugins"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quellor"

Name "Quellor ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Quellor ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
; No InstallDir: an empty $INSTDIR in .onInit means that no /D= was given.

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Quellor"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Quellor ${VERSION} setup"
VIAddVersionKey /LANG=1033 "OriginalFilename" "quellor-${VERSION}-setup.exe"
!pragma warning disable 9100 ; the project states no copyright line, so the key stays out

Var PlayerFound ; 1 when .onInit found the player's executable

Var FolderText ; what the folder page says about the folder it shows
!define MUI_DIRECTORYPAGE_TEXT_TOP "$FolderText"
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "The player's folder"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE ConfirmPlayerFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Quellor is installed. Restart the player, then choose $\"Quellor Output v3.61$\" under Preferences, Output."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Sets $INSTDIR to the player's folder: the one its own registry entry names, else the one of its
; entry in the list of programs, else the usual Program Files folder. $PlayerFound is 1 when the
; player's executable is there.
Function FindPlayer
    StrCpy $PlayerFound 0
    ReadRegStr $0 HKCU "Software\Winamp" ""
    ${If} ${FileExists} "$0\${PLAYER_EXE}"
        StrCpy $INSTDIR $0
        StrCpy $PlayerFound 1
        Return
    ${EndIf}
    ReadRegStr $0 HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp" "UninstallString"
    ${If} $0 != ""
        StrCpy $1 $0 1
        ${If} $1 == '"'
            StrCpy $0 $0 "" 1
            StrCpy $0 $0 -1
        ${EndIf}
        ${GetParent} $0 $0
        ${If} ${FileExists} "$0\${PLAYER_EXE}"
            StrCpy $INSTDIR $0
            StrCpy $PlayerFound 1
            Return
        ${EndIf}
    ${EndIf}
    StrCpy $INSTDIR "$PROGRAMFILES\Winamp"
    ${If} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
        StrCpy $PlayerFound 1
    ${EndIf}
FunctionEnd

Function .onInit
    ${If} $INSTDIR != ""
        StrCpy $FolderText "Quellor goes into the Plugins folder of the player in the folder below."
        Return ; the folder given with /D=
    ${EndIf}
    Call FindPlayer
    StrCpy $FolderText "Quellor goes into the Plugins folder of the player. Setup found the player in the folder below; to install into another player, click Browse."
    ${If} $PlayerFound == 0
        StrCpy $FolderText "Quellor goes into the Plugins folder of the player. Setup did not find the player: choose the folder that holds ${PLAYER_EXE}."
        MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION "The player (${PLAYER_EXE}) was not found on this computer.$\n$\nClick OK to choose its folder on the next page, or Cancel to quit." /SD IDOK IDOK +2
        Quit
    ${EndIf}
FunctionEnd

; Leaving the folder page: a folder without the player's executable needs the user's word.
Function ConfirmPlayerFolder
    ${IfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
        MessageBox MB_YESNO|MB_ICONEXCLAMATION "$INSTDIR holds no ${PLAYER_EXE}: the player does not seem to be installed there.$\n$\nInstall Quellor into its Plugins folder anyway?" /SD IDNO IDYES +2
        Abort
    ${EndIf}
FunctionEnd

; Stops the installation with a message; nothing has been changed when it is called.
!macro Refuse text
    DetailPrint "${text}"
    MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
    SetErrorLevel 2
    Abort
!macroend

Section "Quellor"
    ${If} ${Silent}
    ${AndIfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
        !insertmacro Refuse "$INSTDIR holds no ${PLAYER_EXE}: nothing was installed."
    ${EndIf}
    StrCpy $R1 0 ; 1 when this installation makes the Plugins folder
    ${IfNot} ${FileExists} "${PLUGINS}\*.*"
        StrCpy $R1 1
    ${EndIf}

    ; The new plug-in is written beside its place first: a folder that cannot be written to
    ; stops everything before any file of the player's is touched.
    ClearErrors
    CreateDirectory ${PLUGINS}
    FileOpen $0 "${PLUGINS}\${PLUGIN_DLL}.new" w
    ${If} ${Errors}
        !insertmacro Refuse "Setup cannot write to ${PLUGINS}. The folder is read-only, or only an administrator may change it: run Setup as an administrator, or choose another folder. Nothing was installed."
    ${EndIf}
    FileClose $0
    SetOverwrite on
    File "/oname=${PLUGINS}\${PLUGIN_DLL}.new" "${DLL}"

    ; A plug-in that the running player holds cannot be removed: then the old one stays.
    ${If} ${FileExists} "${PLUGINS}\${PLUGIN_DLL}"
        ClearErrors
        Delete "${PLUGINS}\${PLUGIN_DLL}"
        ${If} ${Errors}
            Delete "${PLUGINS}\${PLUGIN_DLL}.new"
            !insertmacro Refuse "${PLUGINS}\${PLUGIN_DLL} is in use: close the player and run Setup again. Nothing was changed."
        ${EndIf}
    ${EndIf}
    Rename "${PLUGINS}\${PLUGIN_DLL}.new" "${PLUGINS}\${PLUGIN_DLL}"

    WriteUninstaller "${PLUGINS}\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Quellor ${VERSION} (Winamp output plug-in)"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Quellor"
    WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"${PLUGINS}\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"${PLUGINS}\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" ${DLL_KB}
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
    ${If} $R1 == 1
        WriteRegDWORD HKLM "${UNINST_KEY}" "PluginsFolderMade" 1
    ${EndIf}
SectionEnd

; The uninstaller lives in the Plugins folder, which is its $INSTDIR.
Section "Uninstall"
    ${If} ${FileExists} "$INSTDIR\${PLUGIN_DLL}"
        ClearErrors
        Delete "$INSTDIR\${PLUGIN_DLL}"
        ${If} ${Errors}
            !insertmacro Refuse "$INSTDIR\${PLUGIN_DLL} is in use: close the player and run the uninstaller again. Nothing was removed."
        ${EndIf}
    ${EndIf}
    Delete "$INSTDIR\${UNINSTALLER}"
    ReadRegDWORD $0 HKLM "${UNINST_KEY}" "PluginsFolderMade"
    ${If} $0 == 1
        RMDir $INSTDIR ; only when nothing else is in it
    ${EndIf}
    DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd

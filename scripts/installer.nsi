; The installer of QuilloZIP快速解压: per user, no administrator rights, in
; Chinese. Installs into %LOCALAPPDATA%\Programs\QuilloZIP, adds a Start-menu
; shortcut, a Startup-folder shortcut when "开机时自动启动" stays ticked, and
; an entry in the user's list of installed programs; the uninstaller removes
; exactly these again. The program itself keeps nothing in the registry.
;
; Built by scripts/make-installer.sh:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DSTAGE=dir -DOUTFILE=setup.exe [-DAMD64] installer.nsi
; STAGE holds quillozip.exe and 使用说明.txt. AMD64 makes a 64-bit installer
; (for the 64-bit build's tests); the release is the 32-bit one.
;
; Silent forms, for administrators who deploy it:
;   QuilloZIP-<version>-setup.exe /S [/NOAUTOSTART]   install; /NOAUTOSTART: no Startup shortcut
;   uninstall.exe /S                                  remove
; A silent install starts the program again when it ended a running copy.

Unicode true
!ifdef AMD64
    Target amd64-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

!define PRODUCT "QuilloZIP快速解压"
!define PUBLISHER "QuilloZIP"
!define EXE "quillozip.exe"
!define GUIDE "使用说明.txt"
!define UNINSTALLER "uninstall.exe"
!define LINK "${PRODUCT}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuilloZIP"
; The hidden window of a running copy: WM_CLOSE to it ends the program as
; "退出" does, after any extraction in progress.
!define RESIDENT_CLASS "QuilloZIP.Resident"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} 安装"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\QuilloZIP"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${__FILEDIR__}\..\resources\app.ico"
!define MUI_UNICON "${__FILEDIR__}\..\resources\app.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "立即运行"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Var wasRunning

; Asks a running copy to quit and waits for it (at most 10 s, then the user
; may wait longer or give up); never kills it. Sets $wasRunning to 1 when a
; copy was running. Aborts when it is still running and the user gives up
; (a silent run gives up).
!macro EndRunningCopy un
Function ${un}EndRunningCopy
    StrCpy $wasRunning 0
    FindWindow $0 "${RESIDENT_CLASS}"
    ${If} $0 == 0
        Return
    ${EndIf}
    StrCpy $wasRunning 1
    ask:
    FindWindow $0 "${RESIDENT_CLASS}"
    ${If} $0 != 0
        SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${EndIf}
    StrCpy $1 0
    ${Do}
        FindWindow $0 "${RESIDENT_CLASS}"
        ${If} $0 == 0
            ; The window is gone; give the process a moment to end and let go of its file.
            StrCpy $2 0
            ${DoWhile} $2 < 50
                ClearErrors
                FileOpen $3 "$INSTDIR\${EXE}" a
                ${IfNot} ${Errors}
                    FileClose $3
                    Return
                ${EndIf}
                ${IfNot} ${FileExists} "$INSTDIR\${EXE}"
                    Return
                ${EndIf}
                Sleep 100
                IntOp $2 $2 + 1
            ${Loop}
            Return
        ${EndIf}
        Sleep 100
        IntOp $1 $1 + 1
    ${LoopUntil} $1 >= 100
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} 仍在运行（可能正在解压）。请等它完成或从托盘图标菜单选择“退出”，然后点“重试”。" /SD IDCANCEL IDRETRY ask
    Abort
FunctionEnd
!macroend
!insertmacro EndRunningCopy ""
!insertmacro EndRunningCopy "un."

Section "${PRODUCT}" SecProgram
    SectionIn RO
    Call EndRunningCopy
    SetOutPath "$INSTDIR"
    SetOverwrite on
    File "${STAGE}\${EXE}"
    File "${STAGE}\${GUIDE}"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    CreateShortCut "$SMPROGRAMS\${LINK}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
    ; A shortcut an older install made is not left behind when autostart is unticked now.
    Delete "$SMSTARTUP\${LINK}"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "开机时自动启动" SecAutostart
    CreateShortCut "$SMSTARTUP\${LINK}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
SectionEnd

Section "-restart"
    ; A silent update puts back the copy it ended; the finish page offers "立即运行" otherwise.
    ${If} ${Silent}
    ${AndIf} $wasRunning == 1
        Exec '"$INSTDIR\${EXE}"'
    ${EndIf}
SectionEnd

; After the sections: it names one.
Function .onInit
    SetShellVarContext current
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOAUTOSTART" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecAutostart}
    ${EndIf}
FunctionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "Uninstall"
    Call un.EndRunningCopy
    Delete "$SMPROGRAMS\${LINK}"
    Delete "$SMSTARTUP\${LINK}"
    Delete "$INSTDIR\${EXE}"
    Delete "$INSTDIR\${GUIDE}"
    Delete "$INSTDIR\${UNINSTALLER}"
    ; Only when empty: files the user put there stay.
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; The installer of QuilloZIP快速解压: per user, no administrator rights, in
; Chinese. Installs into %LOCALAPPDATA%\Programs\QuilloZIP the program built
; for the running Windows (the x86_64 build on 64-bit Windows, the i686 build
; otherwise, either as quillozip.exe), adds a Start-menu shortcut, a
; Startup-folder shortcut when "开机时自动启动" stays ticked, an entry in the
; user's list of installed programs, and Explorer's verbs and "打开方式"
; entries for the archive types under HKCU\Software\Classes, without taking
; any type's default program. The uninstaller removes exactly these again.
; The program itself keeps nothing in the registry.
;
; Built by scripts/make-installer.sh:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DSTAGE=dir -DOUTFILE=setup.exe [-DAMD64] installer.nsi
; STAGE holds quillozip.exe (i686), quillozip64.exe (x86_64) and 使用说明.txt.
; AMD64 makes a 64-bit installer, which runs on 64-bit Windows only and so
; carries quillozip64.exe alone (for the 64-bit build's tests); the release
; is the 32-bit one with both programs.
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
!include "x64.nsh"

!define PRODUCT "QuilloZIP快速解压"
!define PUBLISHER "QuilloZIP"
!define EXE "quillozip.exe"
!define EXE64 "quillozip64.exe"
!define GUIDE "使用说明.txt"
!define UNINSTALLER "uninstall.exe"
!define LINK "${PRODUCT}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuilloZIP"
; The hidden window of a running copy: WM_CLOSE to it ends the program as
; "退出" does, after any extraction in progress.
!define RESIDENT_CLASS "QuilloZIP.Resident"

; Explorer's entries, all per user.
!define CLASSES "Software\Classes"
!define PROGID "QuilloZIP.Archive"
!define APP_KEY "${CLASSES}\Applications\${EXE}"
!define VERB_OPEN "QuilloZIP.Open"
!define VERB_EXTRACT "QuilloZIP.Extract"
!define SHCNE_ASSOCCHANGED 0x08000000

; Calls MACRO with each extension whose archives the program reads, as the
; registry keys them: by the last extension (.tar.gz under .gz, .tar.zst
; under .zst, the first volume of a split archive under .001).
!macro ForEachExtension MACRO
    !insertmacro ${MACRO} ".zip"
    !insertmacro ${MACRO} ".7z"
    !insertmacro ${MACRO} ".rar"
    !insertmacro ${MACRO} ".tar"
    !insertmacro ${MACRO} ".tgz"
    !insertmacro ${MACRO} ".tbz2"
    !insertmacro ${MACRO} ".txz"
    !insertmacro ${MACRO} ".gz"
    !insertmacro ${MACRO} ".bz2"
    !insertmacro ${MACRO} ".xz"
    !insertmacro ${MACRO} ".zst"
    !insertmacro ${MACRO} ".001"
!macroend

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

; Explorer's verbs go under SystemFileAssociations, which adds them to the
; type's menu whichever program owns it; "打开方式" lists the program through
; the type's OpenWithProgids and the Applications key. Neither makes it the
; type's default program.
!macro RegisterVerb EXT VERB TEXT ARGS
    WriteRegStr HKCU "${CLASSES}\SystemFileAssociations\${EXT}\shell\${VERB}" "" "${TEXT}"
    WriteRegStr HKCU "${CLASSES}\SystemFileAssociations\${EXT}\shell\${VERB}" "Icon" "$INSTDIR\${EXE},0"
    WriteRegStr HKCU "${CLASSES}\SystemFileAssociations\${EXT}\shell\${VERB}\command" "" '"$INSTDIR\${EXE}" ${ARGS}'
!macroend
!macro RegisterExtension EXT
    !insertmacro RegisterVerb "${EXT}" "${VERB_OPEN}" "用QuilloZIP打开" '"%1"'
    !insertmacro RegisterVerb "${EXT}" "${VERB_EXTRACT}" "用QuilloZIP解压到当前文件夹" '/extract "%1"'
    WriteRegStr HKCU "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}" ""
    WriteRegStr HKCU "${APP_KEY}\SupportedTypes" "${EXT}" ""
!macroend

; Removes what RegisterExtension wrote; a key of the type is removed only
; when nothing but ours was in it (a user's or another program's choice stays).
!macro UnregisterExtension EXT
    DeleteRegKey HKCU "${CLASSES}\SystemFileAssociations\${EXT}\shell\${VERB_OPEN}"
    DeleteRegKey HKCU "${CLASSES}\SystemFileAssociations\${EXT}\shell\${VERB_EXTRACT}"
    DeleteRegKey /ifempty HKCU "${CLASSES}\SystemFileAssociations\${EXT}\shell"
    DeleteRegKey /ifempty HKCU "${CLASSES}\SystemFileAssociations\${EXT}"
    DeleteRegValue HKCU "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}"
    DeleteRegKey /ifempty HKCU "${CLASSES}\${EXT}\OpenWithProgids"
    DeleteRegKey /ifempty HKCU "${CLASSES}\${EXT}"
!macroend

!macro NotifyAssociationsChanged
    System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
!macroend

Section "${PRODUCT}" SecProgram
    SectionIn RO
    Call EndRunningCopy
    SetOutPath "$INSTDIR"
    SetOverwrite on
!ifdef AMD64
    File "/oname=${EXE}" "${STAGE}\${EXE64}"
!else
    ${If} ${RunningX64}
        File "/oname=${EXE}" "${STAGE}\${EXE64}"
    ${Else}
        File "${STAGE}\${EXE}"
    ${EndIf}
!endif
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

    WriteRegStr HKCU "${CLASSES}\${PROGID}" "" "QuilloZIP压缩包"
    WriteRegStr HKCU "${CLASSES}\${PROGID}\DefaultIcon" "" "$INSTDIR\${EXE},0"
    WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
    WriteRegStr HKCU "${APP_KEY}" "FriendlyAppName" "${PRODUCT}"
    WriteRegStr HKCU "${APP_KEY}\DefaultIcon" "" "$INSTDIR\${EXE},0"
    WriteRegStr HKCU "${APP_KEY}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
    !insertmacro ForEachExtension RegisterExtension
    !insertmacro NotifyAssociationsChanged
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
    !insertmacro ForEachExtension UnregisterExtension
    DeleteRegKey /ifempty HKCU "${CLASSES}\SystemFileAssociations"
    DeleteRegKey HKCU "${CLASSES}\${PROGID}"
    DeleteRegKey HKCU "${APP_KEY}"
    DeleteRegKey /ifempty HKCU "${CLASSES}\Applications"
    !insertmacro NotifyAssociationsChanged
    ; Last: an uninstall cut short stays listed, to be run again.
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; The Windows installer (makensis): installs the program into "C:\Program Files\Tempwarden",
; registers the service with the program's own /install /silent (which gives it the virtual
; account "NT SERVICE\VOZIvazure" and the data folder "C:\ProgramData\Tempwarden" with its
; access list) and starts it, and leaves an uninstaller that stops the service and its named
; instances, removes them with /uninstall /silent and deletes the program, keeping what the
; services wrote (TEMPWARDEN.XML, the history, the logs). An installation of the old layout,
; with its data beside the program, has that data moved into the data folder first.
; /S installs and uninstalls without a window. /SMTPPASSWORD=secret stores the relay's password
; for the service with the program's /protect (a DPAPI value in TEMPWARDEN.XML, machine scope):
; handed over in an environment variable of the installer's own, never on a command line nor in
; the installer's log.
;
; makensis -DEXE=path\to\tempwarden.exe -DVERSION=1.0.0.1 -DOUTFILE=tempwarden-setup.exe
Unicode true
!include "FileFunc.nsh"
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef EXE | VERSION | OUTFILE
  !error "define EXE, VERSION and OUTFILE"
!endif
!define SERVICE "VOZIvazure"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempwarden"

Name "Tempwarden"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tempwarden"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Tempwarden"
VIAddVersionKey "CompanyName" "Brindle"
VIAddVersionKey "LegalCopyright" "Brindle"
VIAddVersionKey "FileDescription" "Tempwarden setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Stops the service and waits until its program can be replaced or deleted. A program still
; busy after 30 s (a service that does not stop, or another process of it) is ended, and
; waited for 10 s more: an upgrade must not fail on a service that hangs.
!macro StopService un
Function ${un}StopService
  nsExec::Exec '"$SYSDIR\net.exe" stop ${SERVICE}'
  Pop $0
  StrCpy $1 0
  loop:
    ClearErrors
    FileOpen $2 "$INSTDIR\tempwarden.exe" a
    IfErrors 0 free
    IntOp $1 $1 + 1
    IntCmp $1 60 0 wait wait
      DetailPrint "The service did not stop within 30 s: its processes are ended"
      nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM tempwarden.exe'
      Pop $0
    wait:
    IntCmp $1 80 busy
    Sleep 500
    Goto loop
  free:
  FileClose $2
  busy:
FunctionEnd
!macroend
!insertmacro StopService ""
!insertmacro StopService "un."

; The named instances ("VOZIvazure$NAME", from "/install NAME") run the same program: their
; service names, each followed by "|", into $R9.
!macro ListInstances un
Function ${un}ListInstances
  StrCpy $R9 ""
  StrCpy $R8 0
  next:
    EnumRegKey $R7 HKLM "SYSTEM\CurrentControlSet\Services" $R8
    StrCmp $R7 "" done
    IntOp $R8 $R8 + 1
    StrCpy $R6 $R7 11
    StrCmp $R6 "${SERVICE}$$" 0 next
    StrCpy $R9 "$R9$R7|"
    Goto next
  done:
FunctionEnd
!macroend
!insertmacro ListInstances ""
!insertmacro ListInstances "un."

; Takes the first service name off the list in $R9 into $R7 ("" once the list is empty).
!macro PopInstance un
Function ${un}PopInstance
  StrCpy $R7 ""
  StrCmp $R9 "" done
  StrCpy $R8 0
  find:
    StrCpy $R6 $R9 1 $R8
    StrCmp $R6 "|" found
    IntOp $R8 $R8 + 1
    Goto find
  found:
  StrCpy $R7 $R9 $R8
  IntOp $R8 $R8 + 1
  StrCpy $R9 $R9 "" $R8
  done:
FunctionEnd
!macroend
!insertmacro PopInstance ""
!insertmacro PopInstance "un."

; "/SMTPPASSWORD=..." on the installer's command line: the password goes to the program in the
; variable TEMPWARDEN_SECRET of this process, which the program inherits, and the variable is
; cleared at once. nsExec::Exec, not ExecToLog: nothing of the exchange reaches the log.
Function StoreSmtpPassword
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/SMTPPASSWORD=" $1
  IfErrors done
  StrCmp $1 "" done
  ReadEnvStr $3 ProgramData
  StrCmp $3 "" 0 +2
    StrCpy $3 "C:\ProgramData"
  System::Call 'Kernel32::SetEnvironmentVariable(t "TEMPWARDEN_SECRET", t r1)'
  StrCpy $1 ""
  nsExec::Exec '"$INSTDIR\tempwarden.exe" /protect SMTPPassword /secret-env TEMPWARDEN_SECRET /data "$3\Tempwarden"'
  Pop $2
  System::Call 'Kernel32::SetEnvironmentVariable(t "TEMPWARDEN_SECRET", p 0)'
  StrCmp $2 "0" done
    DetailPrint "tempwarden.exe /protect SMTPPassword: exit code $2"
    MessageBox MB_OK|MB_ICONEXCLAMATION "The SMTP password could not be stored (exit code $2); store it later with tempwarden.exe /protect SMTPPassword." /SD IDOK
  done:
  StrCpy $0 ""
FunctionEnd

; The old layout kept the settings and everything the service wrote beside the program: all of
; it but the program and the uninstaller moves into the data folder, unless that folder has
; settings of its own already.
Function MoveOldData
  ReadEnvStr $3 ProgramData
  StrCmp $3 "" 0 +2
    StrCpy $3 "C:\ProgramData"
  StrCpy $3 "$3\Tempwarden"
  IfFileExists "$INSTDIR\TEMPWARDEN.XML" 0 done
  IfFileExists "$3\TEMPWARDEN.XML" done
  CreateDirectory "$3"
  DetailPrint "Moving the settings and the history from $INSTDIR to $3"
  FindFirst $4 $5 "$INSTDIR\*.*"
  next:
    StrCmp $5 "" end
    StrCmp $5 "." skip
    StrCmp $5 ".." skip
    StrCmp $5 "tempwarden.exe" skip
    StrCmp $5 "uninstall.exe" skip
    IfFileExists "$INSTDIR\$5\*.*" skip  ; a folder
    Rename "$INSTDIR\$5" "$3\$5"
  skip:
    FindNext $4 $5
    Goto next
  end:
  FindClose $4
  done:
FunctionEnd

Section "Tempwarden"
  SetOutPath "$INSTDIR"
  StrCpy $R5 ""
  ; An earlier installation: its service stops and goes before its program is replaced. Its
  ; named instances stay registered; those that run are stopped now and started again with
  ; the new program ($R5 lists them).
  IfFileExists "$INSTDIR\tempwarden.exe" 0 fresh
    Call ListInstances
    stop_instance:
      Call PopInstance
      StrCmp $R7 "" instances_stopped
      nsExec::Exec '"$SYSDIR\net.exe" stop "$R7"'
      Pop $0
      StrCmp $0 "0" 0 stop_instance
      StrCpy $R5 "$R5$R7|"
      Goto stop_instance
    instances_stopped:
    Call StopService
    nsExec::Exec '"$INSTDIR\tempwarden.exe" /uninstall /silent'
    Pop $0
  fresh:
  Call MoveOldData
  File "/oname=tempwarden.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The service taken back a moment ago may still be on its way out of the service manager
  ; (marked for deletion): the registration is tried for 10 s.
  StrCpy $1 0
  register:
    nsExec::ExecToLog '"$INSTDIR\tempwarden.exe" /install /silent'
    Pop $0
    StrCmp $0 "0" registered
    IntOp $1 $1 + 1
    IntCmp $1 10 refused 0 refused
      Sleep 1000
      Goto register
  refused:
    DetailPrint "tempwarden.exe /install /silent: exit code $0"
    MessageBox MB_OK|MB_ICONSTOP "The service could not be registered (exit code $0); the event log has the reason." /SD IDOK
    Abort
  registered:
  Call StoreSmtpPassword
  nsExec::ExecToLog '"$SYSDIR\net.exe" start ${SERVICE}'
  Pop $0
  StrCpy $R9 $R5
  start_instance:
    Call PopInstance
    StrCmp $R7 "" instances_started
    nsExec::ExecToLog '"$SYSDIR\net.exe" start "$R7"'
    Pop $0
    Goto start_instance
  instances_started:

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tempwarden"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Brindle"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tempwarden.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; The named instances go too: without the program their registrations would start nothing.
  Call un.ListInstances
  remove_instance:
    Call un.PopInstance
    StrCmp $R7 "" instances_removed
    nsExec::Exec '"$SYSDIR\net.exe" stop "$R7"'
    Pop $0
    StrCpy $R6 $R7 "" 11
    nsExec::ExecToLog '"$INSTDIR\tempwarden.exe" /uninstall $R6 /silent'
    Pop $0
    Goto remove_instance
  instances_removed:
  Call un.StopService
  nsExec::ExecToLog '"$INSTDIR\tempwarden.exe" /uninstall /silent'
  Pop $0
  Delete "$INSTDIR\tempwarden.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Removed only when empty: the configuration and the history stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

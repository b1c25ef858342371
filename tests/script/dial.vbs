' Dials as a script host does it, late-bound through the registered type
' library: first on the line Connect chooses itself, then on a line chosen
' by name; the progress of both calls is seen.
'   cscript //nologo dial.vbs
' Exit status 0 when every step behaved; otherwise 1, with the step named.
Option Explicit

Dim shell, dialer, lines, i
Set shell = CreateObject("WScript.Shell")

Sub Check(ok, what)
    If Not ok Then
        WScript.Echo "FAIL: " & what
        WScript.Quit 1
    End If
End Sub

Sub Step(what)
    If Err.Number <> 0 Then
        WScript.Echo "FAIL: " & what & ": 0x" & Hex(Err.Number) & " " & Err.Description
        WScript.Quit 1
    End If
End Sub

' WScript.Sleep where the host has it; Wine's answers "not implemented",
' and there a child process that takes a second blocks this thread without
' spinning a processor. Neither wait serves calls into this thread's
' apartment under Wine, so the dialer's events must not need it to.
Sub Pause()
    On Error Resume Next
    WScript.Sleep 1000
    If Err.Number <> 0 Then
        Err.Clear
        shell.Run "ping -n 2 127.0.0.1", 0, True
    End If
End Sub

On Error Resume Next
Set dialer = CreateObject("Brevlin.TAPIDialer")
Step "CreateObject"
dialer.InitializeTAPI
Step "InitializeTAPI"
lines = dialer.GetAddressNameCSVList()
Step "GetAddressNameCSVList"
Check lines = "Script Modem,Script ISDN", "the suitable lines are """ & lines & """"
Check dialer.Connected = False, "Connected before any call"

Sub DialAndHangUp(what)
    dialer.Connect "+1 (555) 010-0100"
    Step "Connect " & what
    For i = 1 To 10
        If dialer.Connected Then Exit For
        Pause
    Next
    Step "Connected"
    Check dialer.Connected, "the call " & what & " never reported progress"
    dialer.Disconnect
    Step "Disconnect " & what
End Sub

DialAndHangUp "on the first line"
Check dialer.SetDeviceAddress("Script ISDN"), "the line chosen by name"
Step "SetDeviceAddress"
DialAndHangUp "on the line chosen by name"
dialer.ShutdownTAPI
Step "ShutdownTAPI"
Set dialer = Nothing
WScript.Echo "PASS dial.vbs"
WScript.Quit 0

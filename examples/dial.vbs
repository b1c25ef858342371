' Places a call through Brevlin from a script host and prints what it sees.
'
'   cscript //nologo dial.vbs [NUMBER] [/line:NAME] [/linefile:FILE]
'                             [/hold:SECONDS] [/wait:SECONDS]
'
' Exit status: 0 Connected turned true (the call in progress or connected),
' the call was held and hung up cleanly; 1 a member failed; 2 the call was
' placed but Connected never turned true; 3 the call ended by itself (busy,
' no answer) before it was held.
Option Explicit

Dim number, lineName, lineFile, holdSeconds, waitSeconds
number = "+1 (555) 010-0100"
holdSeconds = 3
waitSeconds = 10

Dim i, a
For i = 0 To WScript.Arguments.Count - 1
    a = WScript.Arguments(i)
    If LCase(Left(a, 6)) = "/line:" Then
        lineName = Mid(a, 7)
    ElseIf LCase(Left(a, 10)) = "/linefile:" Then
        lineFile = Mid(a, 11)
    ElseIf LCase(Left(a, 6)) = "/hold:" Then
        holdSeconds = CDbl(Mid(a, 7))
    ElseIf LCase(Left(a, 6)) = "/wait:" Then
        waitSeconds = CDbl(Mid(a, 7))
    Else
        number = a
    End If
Next

Dim shell, started
Set shell = CreateObject("WScript.Shell")
started = Timer

Function Elapsed()
    Dim t
    t = Timer - started
    If t < 0 Then t = t + 86400
    Elapsed = Right("      " & FormatNumber(t, 2, -1, 0, 0), 7) & " s  "
End Function

Sub Say(text)
    WScript.Echo Elapsed() & text
End Sub

' A tenth of a second with WScript.Sleep, as on Windows. Some hosts lack it
' (Wine 8's answers "not implemented"); there a child process that exits at
' once blocks this thread for a moment without spinning a processor.
Sub Pause()
    On Error Resume Next
    WScript.Sleep 100
    If Err.Number <> 0 Then
        Err.Clear
        shell.Run "ping -n 1 127.0.0.1", 0, True
    End If
End Sub

Sub Fail(what)
    Say what & " failed: 0x" & Right("0000000" & Hex(Err.Number), 8) & _
        "  " & Err.Description
    WScript.Quit 1
End Sub

On Error Resume Next

Dim dialer
Set dialer = CreateObject("Brevlin.TAPIDialer")
If Err.Number <> 0 Then Fail "CreateObject(""Brevlin.TAPIDialer"")"

dialer.InitializeTAPI
If Err.Number <> 0 Then Fail "InitializeTAPI"
Say "telephony initialised"

Dim lines
lines = dialer.GetAddressNameCSVList()
If Err.Number <> 0 Then Fail "GetAddressNameCSVList"
If lines = "" Then
    Say "lines: (none suitable)"
Else
    Say "lines: " & lines
End If

Dim chosen
If lineName <> "" Then
    chosen = dialer.SetDeviceAddress(lineName)
    If Err.Number <> 0 Then Fail "SetDeviceAddress"
    Say "line """ & lineName & """ chosen: " & CStr(chosen)
ElseIf lineFile <> "" Then
    chosen = dialer.ReadDeviceAddressFromFile(lineFile)
    If Err.Number <> 0 Then Fail "ReadDeviceAddressFromFile"
    Say "line from " & lineFile & " chosen: " & CStr(chosen)
End If

dialer.Connect number
If Err.Number <> 0 Then Fail "Connect """ & number & """"
Say "Connect """ & number & """: S_OK, dialling"

Dim seen, connected, deadline, outcome
seen = False
outcome = 2
deadline = Timer + waitSeconds
Do
    connected = dialer.Connected
    If connected Then
        seen = True
        Say "Connected: True"
        Exit Do
    End If
    Pause
Loop While Timer < deadline

If seen Then
    outcome = 0
    deadline = Timer + holdSeconds
    Do While Timer < deadline
        Pause
        If Not dialer.Connected Then
            Say "Connected: False  (the call ended by itself)"
            outcome = 3
            Exit Do
        End If
    Loop
    If outcome = 0 Then Say "held for " & holdSeconds & " s"
Else
    Say "Connected stayed False for " & waitSeconds & " s"
End If

dialer.Disconnect
If Err.Number <> 0 Then Fail "Disconnect"
Say "hung up"

dialer.ShutdownTAPI
If Err.Number <> 0 Then Fail "ShutdownTAPI"
Say "telephony shut down"
WScript.Quit outcome

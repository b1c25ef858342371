' Dials through a SIP line of TelSim.dll, as a script host does it, one
' case after the other on one dialer:
'   cscript //nologo sip_call.vbs MARKS NUMBER MISSING CASE...
' NUMBER reaches the answering peer, MISSING a user it does not have.
' MARKS is a folder shared with the runner: Await "x" creates x there and
' waits for x.done, which the runner writes once it has done its part (for
' "answered": the answering peer has the call established).
' CASE: disconnect (a call, a second Connect that replaces it, Disconnect),
'       farhangup (the far end hangs up), missing (refused: not found),
'       shutdown (ShutdownTAPI hangs up a call still up),
'       kill (the runner kills the caller's agent mid-call),
'       noagent (no agent listening: Connect fails at once).
' Prints "PASS sip_call.vbs CASE" for each case; exits 0 when all passed.
Option Explicit

Dim shell, files, dialer, marks, number, missing, i
Set shell = CreateObject("WScript.Shell")
Set files = CreateObject("Scripting.FileSystemObject")
marks = WScript.Arguments(0)
number = WScript.Arguments(1)
missing = WScript.Arguments(2)

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

' WScript.Sleep is missing from Wine's host; a child process blocks this
' thread for a moment without spinning.
Sub Pause()
    shell.Run "ping -n 1 127.0.0.1", 0, True
End Sub

Function WaitConnected(wanted, seconds)
    Dim deadline
    deadline = Timer + seconds
    Do While dialer.Connected <> wanted And Timer < deadline
        Pause
    Loop
    WaitConnected = (dialer.Connected = wanted)
End Function

Sub Await(mark)
    Dim deadline
    files.CreateTextFile(marks & "\" & mark, True).Close
    deadline = Timer + 15
    Do While Not files.FileExists(marks & "\" & mark & ".done") And Timer < deadline
        Pause
    Loop
    Check files.FileExists(marks & "\" & mark & ".done"), "the runner did not do its part for " & mark
    files.DeleteFile marks & "\" & mark & "*"
End Sub

Sub Dial(what)
    dialer.Connect number
    Step "Connect (" & what & ")"
    Check WaitConnected(True, 10), what & ": the call was never seen"
    Await "answered"
End Sub

On Error Resume Next
Set dialer = CreateObject("Brevlin.TAPIDialer")
Step "CreateObject"
dialer.InitializeTAPI
Step "InitializeTAPI"
WScript.Echo "lines: " & dialer.GetAddressNameCSVList()
Step "GetAddressNameCSVList"

Dim started, shutDown
shutDown = False
For i = 3 To WScript.Arguments.Count - 1
    Select Case WScript.Arguments(i)
    Case "disconnect"
        Dial "first call"
        ' The dialer hangs the first call up; the line waits for it to end
        ' before the agent takes the next one.
        Dial "second call"
        dialer.Disconnect
        Step "Disconnect"
        Check WaitConnected(False, 10), "the call did not end after Disconnect"
    Case "farhangup"
        Dial "far hang-up"
        Await "farhangup"
        Check WaitConnected(False, 10), "Connected stayed True after the far end hung up"
        ' The call ended by itself: nothing is left to drop.
        dialer.Disconnect
        Step "Disconnect after the far end hung up"
    Case "missing"
        dialer.Connect missing
        Step "Connect (missing user)"
        ' Dialling shows at once and the refusal within milliseconds; a call
        ' that was never answered would read True until the line gives up.
        Pause
        Check WaitConnected(False, 3), "the refused call did not end"
    Case "shutdown"
        Dial "shutdown"
        dialer.ShutdownTAPI
        Step "ShutdownTAPI"
        shutDown = True
    Case "kill"
        Dial "kill"
        Await "kill"
        Check WaitConnected(False, 10), "Connected stayed True after the agent was killed"
    Case "noagent"
        started = Timer
        dialer.Connect number
        WScript.Echo "Connect: 0x" & Hex(Err.Number) & " " & Err.Description
        Check Err.Number = &H8007274D, "Connect should fail with 0x8007274D (connection refused)"
        Err.Clear
        Check Timer - started < 2, "Connect took " & (Timer - started) & " s to fail"
        Check dialer.Connected = False, "Connected after a failed Connect"
    Case Else
        Check False, "no case " & WScript.Arguments(i)
    End Select
    WScript.Echo "PASS sip_call.vbs " & WScript.Arguments(i)
Next

If Not shutDown Then
    dialer.ShutdownTAPI
    Step "ShutdownTAPI"
End If
Set dialer = Nothing
WScript.Quit 0

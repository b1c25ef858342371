' Dials through a modem line of TelSim.dll, as a script host does it.
'   cscript //nologo modem_call.vbs NUMBER EXPECT [HOLD]
' EXPECT: connect (connects, stays so for HOLD seconds, default 1; then
'         Disconnect, which must end the call),
'         ends (the modem refuses: the call ends by itself, not connected;
'         NUMBER may list several numbers, "a,b,c", dialled one after the
'         other on the same dialer),
'         openfails (Connect itself fails: the port cannot be opened),
'         shutdown (connects; then ShutdownTAPI without Disconnect).
' Prints "PASS modem_call.vbs EXPECT" and exits 0 when the call behaved.
Option Explicit

Dim shell, dialer, number, expect, hold, i
Set shell = CreateObject("WScript.Shell")
number = WScript.Arguments(0)
expect = WScript.Arguments(1)
hold = 1
If WScript.Arguments.Count > 2 Then hold = CInt(WScript.Arguments(2))

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

' WScript.Sleep is missing from Wine's host; a child that takes a second
' waits without spinning.
Sub Pause()
    shell.Run "ping -n 2 127.0.0.1", 0, True
End Sub

Function WaitConnected(wanted, seconds)
    Dim n
    For n = 1 To seconds
        If dialer.Connected = wanted Then Exit For
        Pause
    Next
    WaitConnected = (dialer.Connected = wanted)
End Function

On Error Resume Next
Set dialer = CreateObject("Brevlin.TAPIDialer")
Step "CreateObject"
dialer.InitializeTAPI
Step "InitializeTAPI"
WScript.Echo "lines: " & dialer.GetAddressNameCSVList()
Step "GetAddressNameCSVList"

Dim numbers, k
numbers = Split(number, ",")
' Passed as a String: a Variant array element is not accepted as a BSTR.
dialer.Connect CStr(numbers(0))
If expect = "openfails" Then
    WScript.Echo "Connect: 0x" & Hex(Err.Number) & " " & Err.Description
    Check Err.Number = &H80070002, "Connect should fail with 0x80070002 (port not found)"
    Err.Clear
    Check dialer.Connected = False, "Connected after a failed Connect"
Else
    Step "Connect"
    If expect = "shutdown" Then
        Check WaitConnected(True, 20), "the call never connected"
        Pause
    ElseIf expect = "connect" Then
        Check WaitConnected(True, 20), "the call never connected"
        ' In progress also reads as connected: wait out the dialling.
        For i = 1 To hold
            Pause
        Next
        Check dialer.Connected, "the call did not stay connected"
        dialer.Disconnect
        Step "Disconnect"
        Check WaitConnected(False, 20), "the call did not end after Disconnect"
    Else
        For k = 0 To UBound(numbers)
            If k > 0 Then
                dialer.Connect CStr(numbers(k))
                Step "Connect " & numbers(k)
            End If
            ' The modem answers within a second; the service reports the end.
            For i = 1 To 2
                Pause
            Next
            Check dialer.Connected = False, "the refused call to " & numbers(k) & " did not end"
            ' A call that ends by itself has been dropped by the dialer: a
            ' second Disconnect finds nothing to drop.
            dialer.Disconnect
            Step "Disconnect after the end of " & numbers(k)
        Next
    End If
End If

dialer.ShutdownTAPI
Step "ShutdownTAPI"
Set dialer = Nothing
WScript.Echo "PASS modem_call.vbs " & expect
WScript.Quit 0

' A telephony service that refuses to start: the script's error object
' carries the dialer's description and the service's own code.
Option Explicit
Dim dialer

Sub Expect(what, number, description, wantedNumber, wantedDescription)
    If number <> wantedNumber Or description <> wantedDescription Then
        WScript.Echo "FAIL: " & what & " gave 0x" & Hex(number) & " """ & description & """"
        WScript.Quit 1
    End If
End Sub

Set dialer = CreateObject("Brevlin.TAPIDialer")
On Error Resume Next
dialer.InitializeTAPI
Expect "InitializeTAPI", Err.Number, Err.Description, &H80040005, "TAPI initialization failed."
Err.Clear
' Without its root object the dialer refuses to dial.
dialer.Connect "5550100"
Expect "Connect", Err.Number, Err.Description, &H80004005, "TAPI initialization failed."
WScript.Echo "PASS init_failure.vbs"
WScript.Quit 0

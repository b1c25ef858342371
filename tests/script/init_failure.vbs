' A telephony service that refuses to start: the script's error object
' carries the dialer's description and the service's own code.
Option Explicit
Dim dialer, number, description
Set dialer = CreateObject("Brevlin.TAPIDialer")
On Error Resume Next
dialer.InitializeTAPI
number = Err.Number
description = Err.Description
On Error GoTo 0
If number <> &H80040005 Or description <> "TAPI initialization failed." Then
    WScript.Echo "FAIL: InitializeTAPI gave 0x" & Hex(number) & " """ & description & """"
    WScript.Quit 1
End If
' Without its root object the dialer refuses to dial.
On Error Resume Next
dialer.Connect "5550100"
number = Err.Number
description = Err.Description
On Error GoTo 0
If number <> &H80004005 Or description <> "TAPI initialization failed." Then
    WScript.Echo "FAIL: Connect gave 0x" & Hex(number) & " """ & description & """"
    WScript.Quit 1
End If
WScript.Echo "PASS init_failure.vbs"
WScript.Quit 0

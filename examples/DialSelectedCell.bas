Attribute VB_Name = "DialSelectedCell"
' Dials the phone number in the selected Excel cell, as the cell shows it,
' and keeps the call until you click OK, so that you can lift the handset of
' the telephone on the modem's line first; then the modem hangs up and the
' call stays with your telephone. Needs Brevlin installed (README.md).
Option Explicit

#If VBA7 Then
Private Declare PtrSafe Sub Sleep Lib "kernel32" (ByVal ms As Long)
#Else
Private Declare Sub Sleep Lib "kernel32" (ByVal ms As Long)
#End If

' Excel's status bar, where progress shows without a window to open.
Private Sub Say(ByVal text As String)
    Application.StatusBar = text
End Sub

Public Sub DialSelectedCell()
    Dim d As Object, number As String, t As Single, started As Boolean, message As String
    On Error GoTo Failed
    number = Trim$(Selection.Cells(1).Text)
    If Replace(number, "#", "") = "" Then   ' empty, or #### in a column too narrow
        MsgBox "Select a cell that shows a phone number.", vbExclamation, "Brevlin"
        Exit Sub
    End If
    Set d = CreateObject("Brevlin.TAPIDialer")
    d.InitializeTAPI
    started = True
    Say "lines: " & d.GetAddressNameCSVList()
    d.Connect number
    Say "dialling"
    t = Timer   ' wait up to 30 s for the call to get under way
    Do While Not d.Connected And Timer - t < 30
        DoEvents
        Sleep 100
    Loop
    If d.Connected Then
        Say "dialling or connected"
        MsgBox "Dialling " & number & "." & vbLf & "Lift the handset, then click OK.", vbInformation, "Brevlin"
        If d.Connected Then Say "hanging up" Else Say "ended"
    Else
        Say "no progress in 30 s"
        MsgBox "No progress in 30 s dialling " & number & ".", vbExclamation, "Brevlin"
    End If
    d.Disconnect
    d.ShutdownTAPI
    Application.StatusBar = False
    Exit Sub
Failed:
    ' The control's own text, such as "Couldn't locate valid modem or TSP driver."
    message = Err.Description & " (" & Err.Number & ")"
    On Error Resume Next   ' hang up and shut down, whatever the call's state
    If started Then
        d.Disconnect
        d.ShutdownTAPI
    End If
    Application.StatusBar = False
    MsgBox "Dialling " & number & " failed:" & vbLf & message, vbCritical, "Brevlin"
End Sub

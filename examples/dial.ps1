# Places a call through Brevlin from PowerShell and prints what each member
# answers.
#
#   powershell -NoProfile -ExecutionPolicy Bypass -File dial.ps1 [-Number NUMBER]
#       [-Line NAME] [-LineFile FILE] [-Hold SECONDS] [-Wait SECONDS]
#
# The PowerShell of the host's bitness needs the DLL of that bitness
# registered: System32\WindowsPowerShell\v1.0\powershell.exe the x64 one,
# SysWOW64\WindowsPowerShell\v1.0\powershell.exe the x86 one.
#
# Exit status: 0 Connected turned true (the call in progress or connected),
# the call was held and hung up cleanly; 1 a member failed; 2 the call was
# placed but Connected never turned true; 3 the call ended by itself (busy,
# no answer) before it was held. Whatever happens, a failing member or Ctrl+C
# included, it hangs up and shuts the telephony service down before it ends.
param(
    [string]$Number = "+1 (555) 010-0100",
    [string]$Line = "",
    [string]$LineFile = "",
    [double]$Hold = 3,
    [double]$Wait = 10
)
$ErrorActionPreference = "Stop"
$clock = [Diagnostics.Stopwatch]::StartNew()

# Straight to the console: a line said inside Step must not become part of
# the member's answer that Step returns. The times with a decimal point
# whatever the user's locale, as the other example hosts print them.
function Say([string]$text) {
    $stamped = [string]::Format([Globalization.CultureInfo]::InvariantCulture, "{0,7:F2} s  {1}",
                                $clock.Elapsed.TotalSeconds, $text)
    [Console]::Out.WriteLine($stamped)
}

# Runs one member; on failure prints its HRESULT and the control's
# description, and throws, which ends the script with status 1 once the
# finally below has hung up.
function Step([string]$what, [scriptblock]$member) {
    try {
        return & $member
    } catch {
        # PowerShell wraps the COM error in its own exceptions.
        $e = $_.Exception
        while ($e.InnerException -and $e -isnot [Runtime.InteropServices.COMException]) {
            $e = $e.InnerException
        }
        Say ("{0} failed: 0x{1:X8}  {2}" -f $what, $e.HResult, $e.Message)
        $script:reported = $true
        throw
    }
}

# A managed wait such as Start-Sleep goes on serving COM's calls on a
# single-threaded apartment's thread, as a script host must.
function Wait-Until([scriptblock]$done, [double]$seconds) {
    $waited = [Diagnostics.Stopwatch]::StartNew()
    while (-not (& $done) -and $waited.Elapsed.TotalSeconds -lt $seconds) {
        Start-Sleep -Milliseconds 100
    }
}

Say ("PowerShell {0}, {1}-bit, {2}" -f $PSVersionTable.PSVersion, ([IntPtr]::Size * 8),
     [Threading.Thread]::CurrentThread.GetApartmentState())
$dialer = $null
$initialized = $false
$reported = $false
$status = 1
try {
    $dialer = Step 'New-Object -ComObject Brevlin.TAPIDialer' {
        New-Object -ComObject Brevlin.TAPIDialer
    }
    Step 'InitializeTAPI' { $dialer.InitializeTAPI() }
    $initialized = $true
    Say 'InitializeTAPI: S_OK, telephony initialised'

    $lines = Step 'GetAddressNameCSVList' { $dialer.GetAddressNameCSVList() }
    if ($lines) { Say "lines: $lines" } else { Say 'lines: (none suitable)' }

    if ($Line) {
        $chosen = Step 'SetDeviceAddress' { $dialer.SetDeviceAddress($Line) }
        Say "SetDeviceAddress(`"$Line`"): $chosen"
    } elseif ($LineFile) {
        $chosen = Step 'ReadDeviceAddressFromFile' { $dialer.ReadDeviceAddressFromFile($LineFile) }
        Say "ReadDeviceAddressFromFile(`"$LineFile`"): $chosen"
    }

    Step "Connect `"$Number`"" { $dialer.Connect($Number) }
    Say "Connect `"$Number`": S_OK, dialling"

    $outcome = 2
    Wait-Until { Step 'Connected' { $dialer.Connected } } $Wait
    if (Step 'Connected' { $dialer.Connected }) {
        Say 'Connected: True'
        Wait-Until { -not (Step 'Connected' { $dialer.Connected }) } $Hold
        if (Step 'Connected' { $dialer.Connected }) {
            Say "held for $Hold s"
            $outcome = 0
        } else {
            Say 'Connected: False  (the call ended by itself)'
            $outcome = 3
        }
    } else {
        Say "Connected stayed False for $Wait s"
    }
    $status = $outcome
} catch {
    # A failure of PowerShell's own, not of a member.
    if (-not $reported) { Say "failed: $_" }
    $status = 1
} finally {
    # Every road ends here, a failing member and Ctrl+C included: a call left
    # up would hold the line after the script has gone.
    if ($initialized) {
        try {
            Step 'Disconnect' { $dialer.Disconnect() }
            Say 'Disconnect: S_OK, hung up'
        } catch { $status = 1 }
        try {
            Step 'ShutdownTAPI' { $dialer.ShutdownTAPI() }
            Say 'ShutdownTAPI: S_OK, telephony shut down'
        } catch { $status = 1 }
    }
    # Now, not whenever the garbage collector gets to it.
    if ($null -ne $dialer) { [void][Runtime.InteropServices.Marshal]::ReleaseComObject($dialer) }
}
exit $status

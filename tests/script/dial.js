// Dials from JScript, first on the line Connect chooses itself, then on a
// line chosen by name; the progress of both calls is seen.
//   cscript //nologo dial.js
// Exit status 0 when every step behaved; otherwise 1, with the step named.
var shell = new ActiveXObject("WScript.Shell");

function fail(what) {
    WScript.Echo("FAIL: " + what);
    WScript.Quit(1);
}

function step(what, action) {
    try {
        return action();
    } catch (e) {
        fail(what + ": 0x" + (e.number >>> 0).toString(16) + " " + e.description);
    }
}

// WScript.Sleep where the host has it; Wine's answers "not implemented",
// and there a child process that takes a second blocks this thread without
// spinning a processor. Neither wait serves calls into this thread's
// apartment under Wine, so the dialer's events must not need it to.
function pause() {
    try {
        WScript.Sleep(1000);
    } catch (e) {
        shell.Run("ping -n 2 127.0.0.1", 0, true);
    }
}

var dialer = step("new ActiveXObject", function () { return new ActiveXObject("Brevlin.TAPIDialer"); });
step("InitializeTAPI", function () { dialer.InitializeTAPI(); });
var lines = step("GetAddressNameCSVList", function () { return dialer.GetAddressNameCSVList(); });
if (lines !== "Script Modem,Script ISDN") fail("the suitable lines are \"" + lines + "\"");
if (dialer.Connected !== false) fail("Connected before any call");

function dialAndHangUp(what) {
    step("Connect " + what, function () { dialer.Connect("5550100"); });
    for (var i = 0; i < 10 && !dialer.Connected; ++i) pause();
    if (dialer.Connected !== true) fail("the call " + what + " never reported progress");
    step("Disconnect " + what, function () { dialer.Disconnect(); });
}

dialAndHangUp("on the first line");
var chosen = step("SetDeviceAddress", function () { return dialer.SetDeviceAddress("Script ISDN"); });
if (chosen !== true) fail("the line chosen by name");
dialAndHangUp("on the line chosen by name");
step("ShutdownTAPI", function () { dialer.ShutdownTAPI(); });
dialer = null;
WScript.Echo("PASS dial.js");
WScript.Quit(0);

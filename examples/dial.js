// Places a call through Brevlin from a script host and prints what it sees.
//
//   cscript //nologo dial.js [NUMBER] [/line:NAME] [/linefile:FILE]
//                            [/hold:SECONDS] [/wait:SECONDS]
//
// Exit status: 0 Connected turned true (the call in progress or connected),
// the call was held and hung up cleanly; 1 a member failed; 2 the call was
// placed but Connected never turned true; 3 the call ended by itself (busy,
// no answer) before it was held.
var number = "+1 (555) 010-0100", lineName = "", lineFile = "";
var holdSeconds = 3, waitSeconds = 10;

for (var i = 0; i < WScript.Arguments.length; i++) {
    var a = WScript.Arguments(i), lower = a.toLowerCase();
    if (lower.indexOf("/line:") == 0) lineName = a.substr(6);
    else if (lower.indexOf("/linefile:") == 0) lineFile = a.substr(10);
    else if (lower.indexOf("/hold:") == 0) holdSeconds = parseFloat(a.substr(6));
    else if (lower.indexOf("/wait:") == 0) waitSeconds = parseFloat(a.substr(6));
    else number = a;
}

var shell = new ActiveXObject("WScript.Shell");
var started = new Date().getTime();

function say(text) {
    var t = ((new Date().getTime() - started) / 1000).toFixed(2);
    while (t.length < 7) t = " " + t;
    WScript.Echo(t + " s  " + text);
}

// A tenth of a second with WScript.Sleep, as on Windows. Some hosts lack it
// (Wine 8's answers "not implemented"); there a child process that exits at
// once blocks this thread for a moment without spinning a processor.
function pause() {
    try {
        WScript.Sleep(100);
    } catch (e) {
        shell.Run("ping -n 1 127.0.0.1", 0, true);
    }
}

function hex(n) {
    var s = (n < 0 ? n + 0x100000000 : n).toString(16).toUpperCase();
    while (s.length < 8) s = "0" + s;
    return "0x" + s;
}

// Runs one member; on failure prints its HRESULT and the error object's
// description, and ends the script.
function step(what, member) {
    try {
        return member();
    } catch (e) {
        say(what + " failed: " + hex(e.number) + "  " + e.description);
        WScript.Quit(1);
    }
}

var dialer = step("new ActiveXObject(\"Brevlin.TAPIDialer\")", function () {
    return new ActiveXObject("Brevlin.TAPIDialer");
});
step("InitializeTAPI", function () { dialer.InitializeTAPI(); });
say("telephony initialised");

var lines = step("GetAddressNameCSVList", function () { return dialer.GetAddressNameCSVList(); });
say("lines: " + (lines == "" ? "(none suitable)" : lines));

if (lineName != "") {
    var chosen = step("SetDeviceAddress", function () { return dialer.SetDeviceAddress(lineName); });
    say("line \"" + lineName + "\" chosen: " + (chosen ? "True" : "False"));
} else if (lineFile != "") {
    var chosenFromFile = step("ReadDeviceAddressFromFile", function () {
        return dialer.ReadDeviceAddressFromFile(lineFile);
    });
    say("line from " + lineFile + " chosen: " + (chosenFromFile ? "True" : "False"));
}

step("Connect \"" + number + "\"", function () { dialer.Connect(number); });
say("Connect \"" + number + "\": S_OK, dialling");

var outcome = 2, seen = false;
var deadline = new Date().getTime() + waitSeconds * 1000;
do {
    if (dialer.Connected) {
        seen = true;
        say("Connected: True");
        break;
    }
    pause();
} while (new Date().getTime() < deadline);

if (seen) {
    outcome = 0;
    deadline = new Date().getTime() + holdSeconds * 1000;
    while (new Date().getTime() < deadline) {
        pause();
        if (!dialer.Connected) {
            say("Connected: False  (the call ended by itself)");
            outcome = 3;
            break;
        }
    }
    if (outcome == 0) say("held for " + holdSeconds + " s");
} else {
    say("Connected stayed False for " + waitSeconds + " s");
}

step("Disconnect", function () { dialer.Disconnect(); });
say("hung up");
step("ShutdownTAPI", function () { dialer.ShutdownTAPI(); });
say("telephony shut down");
WScript.Quit(outcome);

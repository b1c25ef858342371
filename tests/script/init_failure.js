// A telephony service that refuses to start: the exception a script sees
// carries the dialer's description and the service's own code.
var dialer = new ActiveXObject("Brevlin.TAPIDialer");
var caught = null;
try {
    dialer.InitializeTAPI();
} catch (e) {
    caught = e;
}
if (caught === null) {
    WScript.Echo("FAIL: InitializeTAPI succeeded");
    WScript.Quit(1);
}
if ((caught.number >>> 0) !== 0x80040005 || caught.description !== "TAPI initialization failed.") {
    WScript.Echo("FAIL: InitializeTAPI gave 0x" + (caught.number >>> 0).toString(16) + " \"" + caught.description + "\"");
    WScript.Quit(1);
}
WScript.Echo("PASS init_failure.js");
WScript.Quit(0);

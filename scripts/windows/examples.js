// Runs example hosts of Brevlin (the README's scripts, the zip's fuller
// hosts, programs built from the README's C++, the PowerShell example) and
// judges each by what the README promises, whatever lines the machine's
// telephony service offers. Run by cscript on Windows, and under Wine by
// the tests against the simulated service.
//
//   cscript //nologo examples.js --out DIR --expect VERDICTS [--deadline SECONDS]
//                                --run NAME=COMMAND [--run NAME=COMMAND]...
//
// Each COMMAND runs through cmd from the current folder; its output is kept
// as DIR\NAME.txt, and one row per run goes to DIR\examples.txt:
//   PASS|FAIL NAME verdict exit lines answer
// Verdicts: "call" (it exited 0: a line was listed and dialled), "no-line"
// (Connect failed with "Couldn't locate valid modem or TSP driver.", the
// README's answer where no suitable line exists), "init-failed" ("TAPI
// initialization failed.", the README's answer where the telephony service
// cannot start). A run passes when its verdict is one of VERDICTS (comma
// separated) and it broke none of the README's promises about it. A run
// still going after --deadline seconds (120 unless given) is ended, with
// every process it started, and fails as "hung": one hung call must not
// take the job's whole time, nor the removal checks after it.
//
// Ends with one line, "examples.js: PASS" or "examples.js: FAIL ...", which
// the workflow's step requires (run-js.cmd). Exit status: 0 every run
// passed, 1 one did not, 2 a usage error, 3 the script itself failed.
var NO_LINE = "Couldn't locate valid modem or TSP driver.";
var INIT_FAILED = "TAPI initialization failed.";
// The codes the README gives for Connect without a suitable line: E_FAIL,
// TAPI_E_NODRIVER, TAPI_E_RESOURCEUNAVAIL.
var NO_LINE_CODES = ["80004005", "8004003D", "80040052"];
// The host's own "not registered" answers: never one of the control's.
var NOT_REGISTERED = /800A01AD|80040154|\b429\b|-2146827859|-2147221164/i;

var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");

function usage(text) {
    if (text) WScript.Echo("examples.js: " + text);
    WScript.Echo("usage: examples.js --out DIR --expect call,no-line,init-failed [--deadline SECONDS] --run NAME=COMMAND...");
    WScript.Quit(text ? 2 : 0);
}

// What the run's output shows: {verdict, lines, answer, faults}.
function judge(text, status) {
    var faults = [];
    var listed = /lines:[ \t]*(.*?)[ \t]*$/m.exec(text);
    var lines = listed ? listed[1].replace(/^\(none suitable\)$/, "") : null;
    var verdict = "other";
    if (text.indexOf(NO_LINE) >= 0) {
        verdict = "no-line";
        if (lines) faults.push("lines were listed (" + lines + "), yet Connect found none suitable");
        var codes = text.match(/0x[0-9A-Fa-f]{8}/g) || [];
        for (var i = 0; i < codes.length; i++) {
            var code = codes[i].substr(2).toUpperCase();
            if (("," + NO_LINE_CODES.join(",") + ",").indexOf("," + code + ",") < 0) {
                faults.push("0x" + code + " is not a code the README gives for no suitable line");
            }
        }
    } else if (text.indexOf(INIT_FAILED) >= 0) {
        verdict = "init-failed";
    } else if (status == 0) {
        verdict = "call";
        if (!lines) faults.push("it exited 0 without listing a line");
    } else {
        faults.push("exit " + status + " without an answer the README documents");
    }
    if (NOT_REGISTERED.test(text)) faults.push("the host found no registered control for its bitness");
    var all = text.split(/\r?\n/), answer = "";
    for (var j = 0; j < all.length; j++) {
        if (/\S/.test(all[j])) answer = all[j];
        if (/fail|error/i.test(all[j])) {
            answer = all[j];
            break;
        }
    }
    return {verdict: verdict, lines: lines, answer: answer.replace(/^\s+|\s+$/g, ""), faults: faults};
}

var failed = 0;

function main() {
    var out = "", expect = "", deadline = 120, runs = [];
    for (var i = 0; i < WScript.Arguments.length; i++) {
        var a = WScript.Arguments(i);
        if (a == "--help" || a == "-h" || a == "/?") usage("");
        if (a != "--out" && a != "--expect" && a != "--deadline" && a != "--run") usage("unknown argument " + a);
        if (i + 1 >= WScript.Arguments.length) usage(a + " needs a value");
        var v = WScript.Arguments(++i);
        if (a == "--out") out = v;
        else if (a == "--expect") expect = v;
        else if (a == "--deadline") deadline = /^[1-9]\d*$/.test(v) ? Number(v) : usage("--deadline takes whole seconds, not " + v);
        else if (/^[\w.-]+=./.test(v)) runs.push({name: v.substr(0, v.indexOf("=")), command: v.substr(v.indexOf("=") + 1)});
        else usage("--run takes NAME=COMMAND, not " + v);
    }
    if (!out || !expect || runs.length == 0) usage("--out, --expect and at least one --run are needed");
    var accepted = "," + expect + ",";
    if (!/^,((call|no-line|init-failed),)+$/.test(accepted)) usage("--expect takes call, no-line and init-failed, not " + expect);

    out = fso.GetAbsolutePathName(out);
    if (!fso.FolderExists(out)) fso.CreateFolder(out);
    var table = [];
    for (var r = 0; r < runs.length; r++) {
        var log = out + "\\" + runs[r].name + ".txt";
        var ran = runFor(runs[r].command, log, deadline);
        var status = ran.hung ? "-" : ran.status;
        var text = readAll(log);
        var j = judge(text, status);
        if (ran.hung) {
            j.verdict = "hung";
            j.faults = ["it was still running after " + deadline + " s, and was ended"];
        } else if (accepted.indexOf("," + j.verdict + ",") < 0) {
            j.faults.push("the verdict " + j.verdict + " is not one of " + expect);
        }
        var row = (j.faults.length ? "FAIL" : "PASS") + " " + runs[r].name + " " + j.verdict + " exit=" + status +
                  " lines=\"" + (j.lines == null ? "(not shown)" : j.lines) + "\" answer=\"" + j.answer + "\"";
        table.push(row);
        WScript.Echo(row);
        for (var f = 0; f < j.faults.length; f++) WScript.Echo("    " + j.faults[f]);
        if (j.faults.length) {
            failed++;
            WScript.Echo("    | " + text.replace(/\r?\n$/, "").split(/\r?\n/).join("\n    | "));
        }
    }
    var stream = fso.CreateTextFile(out + "\\examples.txt", true);
    stream.Write(table.join("\r\n") + "\r\n");
    stream.Close();
    return runs.length;
}

// The body under a catch-all: cscript reports an uncaught error and exits
// 0, which would pass the step with nothing checked.
var count = 0;
try {
    // readAll and runFor, shared with the other script (host-runner.js).
    eval(fso.OpenTextFile(fso.BuildPath(fso.GetParentFolderName(WScript.ScriptFullName), "host-runner.js"), 1).ReadAll());
    count = main();
} catch (e) {
    WScript.Echo("examples.js: error: " + (e.description || e.message || "no description") + " (0x" + ((e.number || 0) >>> 0).toString(16) + ")");
    WScript.Quit(3);
}
WScript.Echo(failed ? "examples.js: FAIL, " + failed + " of " + count + " run(s) failed" : "examples.js: PASS, " + count + " run(s)");
WScript.Quit(failed ? 1 : 0);

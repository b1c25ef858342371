// Runs the fidelity check program against the machine's telephony service
// and reports its table where a reader of the run looks: the table into
// DIR\fidelity-NAME.txt (kept with the job's artifact), the counts and the
// table appended to FILE as Markdown (the job's step summary), and one
// warning annotation per FAIL row. Run by cscript on Windows, and under
// Wine by the tests against the simulated service.
//
//   cscript //nologo fidelity.js --program EXE --name NAME --out DIR
//                                [--summary FILE] [--deadline SECONDS]
//
// A FAIL row is a finding about the simulated service's fidelity to the
// real one, not a fault of the control: it does not fail this script. An
// incomplete table does: the program hung past --deadline (300 s unless
// given), ended without its summary line, or its counts and exit status
// disagree with its rows.
//
// Ends with one line, "fidelity.js: PASS ..." or "fidelity.js: FAIL ...",
// which the workflow's step requires (run-js.cmd). Exit status: 0 the
// table is complete, 1 it is not, 2 a usage error, 3 the script itself
// failed.
var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");

function usage(text) {
    if (text) WScript.Echo("fidelity.js: " + text);
    WScript.Echo("usage: fidelity.js --program EXE --name NAME --out DIR [--summary FILE] [--deadline SECONDS]");
    WScript.Quit(text ? 2 : 0);
}

function cell(text) { return text.replace(/\|/g, "\\|"); }

// The rows and the program's own summary line: {rows, counts, summary}.
function parse(text) {
    var lines = text.split(/\r?\n/), rows = [], counts = {PASS: 0, FAIL: 0, "N/A": 0}, summary = null;
    for (var i = 0; i < lines.length; i++) {
        var row = /^(PASS|FAIL|N\/A) ([^:]+): ?(.*)$/.exec(lines[i]);
        var sum = /^(\d+) passed, (\d+) failed, (\d+) not applicable\s*$/.exec(lines[i]);
        if (row) {
            rows.push({verdict: row[1], name: row[2], detail: row[3]});
            counts[row[1]]++;
        } else if (sum) {
            summary = {PASS: Number(sum[1]), FAIL: Number(sum[2]), "N/A": Number(sum[3])};
        }
    }
    return {rows: rows, counts: counts, summary: summary};
}

function main() {
    var options = {program: "", name: "", out: "", summary: "", deadline: "300"};
    for (var i = 0; i < WScript.Arguments.length; i++) {
        var a = WScript.Arguments(i);
        if (a == "--help" || a == "-h" || a == "/?") usage("");
        if (!/^--(program|name|out|summary|deadline)$/.test(a)) usage("unknown argument " + a);
        if (i + 1 >= WScript.Arguments.length) usage(a + " needs a value");
        options[a.substr(2)] = WScript.Arguments(++i);
    }
    if (!options.program || !/^[\w.-]+$/.test(options.name) || !options.out) usage("--program, --name NAME and --out are needed");
    if (!/^[1-9]\d*$/.test(options.deadline)) usage("--deadline takes whole seconds, not " + options.deadline);
    var program = fso.GetAbsolutePathName(options.program);
    if (!fso.FileExists(program)) usage(program + " does not exist");
    var out = fso.GetAbsolutePathName(options.out);
    if (!fso.FolderExists(out)) fso.CreateFolder(out);

    var table = out + "\\fidelity-" + options.name + ".txt";
    var ran = runFor("\"" + program + "\"", table, Number(options.deadline));
    var text = readAll(table);
    WScript.Echo(text.replace(/\r?\n$/, ""));
    var t = parse(text), faults = [];
    if (ran.hung) faults.push("it was still running after " + options.deadline + " s, and was ended");
    else if (!t.summary) faults.push("it exited " + ran.status + " without its summary line");
    else {
        var kinds = ["PASS", "FAIL", "N/A"];
        for (var k = 0; k < kinds.length; k++) {
            if (t.summary[kinds[k]] != t.counts[kinds[k]]) {
                faults.push("it counts " + t.summary[kinds[k]] + " " + kinds[k] + " but prints " + t.counts[kinds[k]]);
            }
        }
        if (ran.status != (t.counts.FAIL ? 1 : 0)) faults.push("it exited " + ran.status + " with " + t.counts.FAIL + " FAIL row(s)");
    }
    var counts = t.counts.PASS + " PASS, " + t.counts.FAIL + " FAIL, " + t.counts["N/A"] + " N/A";
    for (var r = 0; r < t.rows.length; r++) {
        if (t.rows[r].verdict == "FAIL") {
            WScript.Echo("::warning title=Fidelity, " + options.name + "::" + t.rows[r].name + ": " + t.rows[r].detail);
        }
    }
    if (options.summary) {
        var md = ["### The fidelity check, " + options.name + ": " + counts, ""];
        if (faults.length) md.push("**The table is incomplete:** " + faults.join("; ") + ".", "");
        md.push("A FAIL row is a finding about TelSim's fidelity to this service, not a fault of Brevlin.", "",
                "| verdict | row | finding |", "|---|---|---|");
        for (var m = 0; m < t.rows.length; m++) {
            md.push("| " + t.rows[m].verdict + " | " + cell(t.rows[m].name) + " | " + cell(t.rows[m].detail) + " |");
        }
        var stream = fso.OpenTextFile(options.summary, 8, true);
        stream.Write(md.join("\r\n") + "\r\n\r\n");
        stream.Close();
    }
    for (var f = 0; f < faults.length; f++) WScript.Echo("FAIL: " + faults[f]);
    return {counts: counts, faults: faults.length};
}

// The body under a catch-all: cscript reports an uncaught error and exits
// 0, which would pass the step with nothing checked.
var result;
try {
    // readAll and runFor, shared with the other script (host-runner.js).
    eval(fso.OpenTextFile(fso.BuildPath(fso.GetParentFolderName(WScript.ScriptFullName), "host-runner.js"), 1).ReadAll());
    result = main();
} catch (e) {
    WScript.Echo("fidelity.js: error: " + (e.description || e.message || "no description") + " (0x" + ((e.number || 0) >>> 0).toString(16) + ")");
    WScript.Quit(3);
}
WScript.Echo(result.faults ? "fidelity.js: FAIL, the table is incomplete (" + result.counts + ")"
                           : "fidelity.js: PASS, the table is complete: " + result.counts);
WScript.Quit(result.faults ? 1 : 0);

// Installs, checks and removes Brevlin's Windows Installer packages on a
// 64-bit machine, as an administrator deploys them, and says what it found.
// Run by cscript (either bitness) on Windows, and under Wine by the tests.
//
//   cscript //nologo packages.js install PACKAGE --log FILE
//       msiexec /i PACKAGE /qn /l*v FILE must succeed
//   cscript //nologo packages.js refused PACKAGE --log FILE [--reason text|action]
//       msiexec /i PACKAGE /qn /l*v FILE must fail and change nothing
//   cscript //nologo packages.js remove PACKAGE --log FILE
//       msiexec /x PACKAGE /qn /l*v FILE must succeed
//   cscript //nologo packages.js installed x64|x86 --version X.Y.Z
//       that product alone is installed: its DLLs, its class in each
//       registry view it serves (and none in the other), the ProgIDs, and
//       one Programs and Features entry, with the documented name,
//       publisher and version
//   cscript //nologo packages.js gone
//       no file, key, ProgID or Programs and Features entry of Brevlin's
//       is left in either registry view
//   cscript //nologo packages.js --help
//
// The x86 package's refusal is Windows Installer's launch condition and
// nothing else: exit 1603 (a fatal error) and the condition's own text, read
// from the package's LaunchCondition table, in the /l*v log. "Another
// installation is running" (1618) or an unreadable package (1619, 1620)
// refuse too, and prove nothing. --reason action, a lenient mode for Wine,
// whose Installer logs the LaunchConditions action's failure but never the
// condition's text, takes that failed action instead of the text.
//
// Ends with one line, "packages.js: PASS" or "packages.js: FAIL ...", which
// the workflow's step requires (run-js.cmd). Exit status: 0 every check
// passed, 1 one failed, 2 a usage error, 3 the script itself failed.
var CLSID = "{6C04D28D-D046-4514-A463-19AE864ABA68}";
var LIBID = "{A98D2088-65A8-4490-8C57-CC6639597A5C}";
var IID = "{BBE972A4-E5C9-4DCE-9793-49FBFEDC0FC8}";
var PROGIDS = ["Brevlin.TAPIDialer", "Brevlin.TAPIDialer.1"];
var PUBLISHER = "Brevlin developers";
var UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
var PRODUCTS = {x64: "Brevlin (64-bit)", x86: "Brevlin (32-bit)"};

var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var failures = 0;

function usage(text) {
    if (text) WScript.Echo("packages.js: " + text);
    WScript.Echo("usage: packages.js install|refused|remove PACKAGE --log FILE [--reason text|action]");
    WScript.Echo("       packages.js installed x64|x86 --version X.Y.Z");
    WScript.Echo("       packages.js gone");
    WScript.Quit(text ? 2 : 0);
}

function ok(text) { WScript.Echo("ok: " + text); }
function fail(text) { WScript.Echo("FAIL: " + text); failures++; }
function check(good, text) { if (good) ok(text); else fail(text); }

// The 64-bit folders, whichever cscript runs this: a 32-bit process sees
// the 32-bit ProgramFiles, and ProgramW6432 names the 64-bit one.
// Wine's ExpandEnvironmentStrings keeps the terminating NUL in what it
// returns, which would cut every string the value is joined to.
function env(name) {
    var v = shell.ExpandEnvironmentStrings("%" + name + "%").replace(/\x00+$/, "");
    return v == "%" + name + "%" ? "" : v;
}
var programFiles64 = env("ProgramW6432") || env("ProgramFiles");
var programFiles32 = env("ProgramFiles(x86)");

function join(folder, name) { return folder.replace(/\\$/, "") + "\\" + name; }

// Runs a command line through cmd, its output into a file; returns
// {status, text}. WScript.Shell.Exec's pipes are not used: cmd's
// redirection behaves alike on Windows and under Wine.
function run(command) {
    var out = join(fso.GetSpecialFolder(2).Path, fso.GetTempName());
    // The brackets send every command of a chain (a & b) into the file.
    var status = shell.Run("cmd /s /c \"(" + command + ") >\"" + out + "\" 2>&1\"", 0, true);
    var text = "";
    if (fso.FileExists(out)) {
        var f = fso.GetFile(out);
        if (f.Size > 0) text = f.OpenAsTextStream(1).ReadAll();
        fso.DeleteFile(out);
    }
    return {status: status, text: text};
}

// One registry VIEW (32 or 64), read with one cmd: every key under
// Brevlin's class, interface, type library and ProgIDs, and the Programs
// and Features entries. Returns {keys: {path: {name: data}}, entries: [...]}
// with paths lowercased and without their hive; "" names a default value.
// reg's /reg: switch is used rather than WScript.Shell.RegRead so that
// either cscript sees both views alike.
var ROOTS = ["CLSID\\" + CLSID, "Interface\\" + IID, "TypeLib\\" + LIBID].concat(PROGIDS);
function snapshot(view) {
    var queries = [];
    for (var i = 0; i < ROOTS.length; i++) queries.push("reg query \"HKCR\\" + ROOTS[i] + "\" /s /reg:" + view);
    queries.push("reg query \"" + UNINSTALL + "\" /s /reg:" + view);
    var lines = run(queries.join(" & ")).text.split(/\r?\n/);
    var keys = {}, entries = [], current = null;
    for (var j = 0; j < lines.length; j++) {
        if (/^HKEY_/.test(lines[j])) {
            var path = lines[j].replace(/^HKEY_[A-Z_]+\\/, "").replace(/\s+$/, "").toLowerCase();
            current = keys[path] = {};
            if (path.indexOf(UNINSTALL.toLowerCase().replace(/^hklm\\/, "") + "\\") == 0) {
                current.view = view;
                entries.push(current);
            }
        } else if (current) {
            // "(Default)" is how reg names a key's default value.
            var m = /^\s+(\S+|\(.*?\))\s+REG_\w+\s*(.*?)\s*$/.exec(lines[j]);
            if (m) current[/^\(/.test(m[1]) ? "" : m[1]] = m[2];
        }
    }
    var ours = [];
    for (var k = 0; k < entries.length; k++) {
        if (/^Brevlin\b/.test(entries[k].DisplayName || "")) ours.push(entries[k]);
    }
    return {keys: keys, entries: ours};
}

function value(snap, path, name) {
    var key = snap.keys[path.toLowerCase()];
    return key && key[name || ""] !== undefined ? key[name || ""] : null;
}

function describe(list) {
    var s = [];
    for (var i = 0; i < list.length; i++) {
        s.push(list[i].DisplayName + " " + (list[i].DisplayVersion || "?") + " (" + list[i].view + "-bit view)");
    }
    return s.length ? s.join(", ") : "none";
}

// What an install or removal may change, as one text to compare.
function state() {
    var views = [64, 32], s = [];
    for (var i = 0; i < views.length; i++) {
        var snap = snapshot(views[i]);
        s.push(describe(snap.entries) + " " + value(snap, "CLSID\\" + CLSID + "\\InprocServer32"));
    }
    return s.join(" | ");
}

function msiexec(verb, pkg, log) {
    var r = run("msiexec " + verb + " \"" + pkg + "\" /qn /l*v \"" + log + "\"");
    // 3010: done, and a restart is wanted to finish.
    return r.status;
}

// The texts of the package's launch conditions. The database is let go
// before msiexec opens the package.
function launchConditions(pkg) {
    var installer = new ActiveXObject("WindowsInstaller.Installer");
    var db = installer.OpenDatabase(pkg, 0);
    var view = db.OpenView("SELECT `Description` FROM `LaunchCondition`");
    view.Execute();
    var texts = [];
    for (var rec = view.Fetch(); rec; rec = view.Fetch()) texts.push(rec.StringData(1));
    view.Close();
    rec = view = db = installer = null;
    CollectGarbage();
    return texts;
}

// A log as text, whether Windows Installer wrote it in UTF-16 or the ANSI
// code page.
function readLog(path) {
    if (!fso.FileExists(path) || fso.GetFile(path).Size == 0) return "";
    var stream = fso.OpenTextFile(path, 1, false, 0);
    var text = stream.ReadAll();
    stream.Close();
    if (!/^\xFF\xFE/.test(text) && text.indexOf("\x00") < 0) return text;
    stream = fso.OpenTextFile(path, 1, false, -1);
    text = stream.ReadAll();
    stream.Close();
    return text;
}

function dllPath(arch) {
    return join(arch == "x64" ? programFiles64 : programFiles32, "Brevlin\\Brevlin.dll");
}

function installed(arch, version) {
    var dlls = arch == "x64" ? ["x64", "x86"] : ["x86"];
    for (var i = 0; i < dlls.length; i++) {
        check(fso.FileExists(dllPath(dlls[i])), dllPath(dlls[i]) + " is installed");
    }
    var views = [64, 32], list = [];
    for (var v = 0; v < views.length; v++) {
        var view = views[v], snap = snapshot(view);
        list = list.concat(snap.entries);
        var server = value(snap, "CLSID\\" + CLSID + "\\InprocServer32");
        if (view == 64 && arch == "x86") {
            check(server == null, "the 64-bit view has no class of Brevlin's (found: " + server + ")");
            continue;
        }
        var want = dllPath(view == 64 ? "x64" : "x86");
        check(server != null && server.toLowerCase() == want.toLowerCase(),
              "the " + view + "-bit view's class is served by " + want + " (found: " + server + ")");
        for (var p = 0; p < PROGIDS.length; p++) {
            var clsid = value(snap, PROGIDS[p] + "\\CLSID");
            check(clsid != null && clsid.toUpperCase() == CLSID,
                  "the " + view + "-bit view's " + PROGIDS[p] + " names the class (found: " + clsid + ")");
        }
        check(value(snap, "Interface\\" + IID) != null, "the " + view + "-bit view has the interface's key");
    }
    var wantView = arch == "x64" ? 64 : 32;
    var one = list.length == 1 ? list[0] : null;
    check(one && one.DisplayName == PRODUCTS[arch] && one.view == wantView,
          "Programs and Features lists " + PRODUCTS[arch] + " alone, in the " + wantView + "-bit view (found: " +
          describe(list) + ")");
    if (one) {
        check(one.Publisher == PUBLISHER, "its publisher is " + PUBLISHER + " (found: " + one.Publisher + ")");
        check(one.DisplayVersion == version, "its version is " + version + " (found: " + one.DisplayVersion + ")");
    }
}

function gone() {
    var dlls = ["x64", "x86"];
    for (var i = 0; i < dlls.length; i++) {
        var folder = fso.GetParentFolderName(dllPath(dlls[i]));
        check(!fso.FolderExists(folder), folder + " is gone");
    }
    var views = [64, 32];
    for (var v = 0; v < views.length; v++) {
        var snap = snapshot(views[v]), left = [];
        for (var k in snap.keys) {
            for (var r = 0; r < ROOTS.length; r++) {
                var root = ROOTS[r].toLowerCase();
                if (k == root || k.indexOf(root + "\\") == 0) left.push(k);
            }
        }
        check(left.length == 0, "the " + views[v] + "-bit view has no key of Brevlin's (found: " + left.join(", ") + ")");
        check(snap.entries.length == 0,
              "the " + views[v] + "-bit view's Programs and Features lists no Brevlin (found: " + describe(snap.entries) + ")");
    }
}

function main() {
    // The arguments: a command, its operands, and --name VALUE options.
    var command = "", operands = [], options = {};
    for (var i = 0; i < WScript.Arguments.length; i++) {
        var a = WScript.Arguments(i);
        if (a == "--help" || a == "-h" || a == "/?") usage("");
        if (a.indexOf("--") == 0) {
            if (i + 1 >= WScript.Arguments.length) usage(a + " needs a value");
            options[a.substr(2)] = WScript.Arguments(++i);
        } else if (command == "") {
            command = a;
        } else {
            operands.push(a);
        }
    }

    if (command == "install" || command == "refused" || command == "remove") {
        if (operands.length != 1 || !options.log) usage(command + " takes PACKAGE and --log FILE");
        if (options.reason && (command != "refused" || !/^(text|action)$/.test(options.reason))) {
            usage("--reason takes text or action, with refused alone");
        }
        var pkg = fso.GetAbsolutePathName(operands[0]), log = fso.GetAbsolutePathName(options.log);
        if (!fso.FileExists(pkg)) usage(pkg + " does not exist");
        if (command == "refused") {
            var conditions = launchConditions(pkg);
            var before = state();
            var refusal = msiexec("/i", pkg, log);
            check(refusal == 1603, "msiexec /i " + fso.GetFileName(pkg) + " is refused with exit 1603 (exit " + refusal + ")");
            var logged = readLog(log), reason = null;
            if (options.reason == "action") {
                // Windows ends a failed action with 3, Wine with 0; both end a
                // passed one with 1.
                var action = /Action ended [^\r\n]*: LaunchConditions\. Return value [03]\./.exec(logged);
                check(action != null, "the log shows the LaunchConditions action failed (" + (action ? action[0] : "not found") + ")");
            } else {
                for (var c = 0; c < conditions.length; c++) {
                    if (logged.indexOf(conditions[c]) >= 0) reason = conditions[c];
                }
                check(reason != null, "the log names a launch condition of the package as the reason (" +
                      (reason || "none of: " + conditions.join(" / ")) + ")");
            }
            var after = state();
            check(after == before, "the refusal changed nothing (" + after + ")");
        } else {
            var status = msiexec(command == "install" ? "/i" : "/x", pkg, log);
            check(status == 0 || status == 3010,
                  "msiexec " + (command == "install" ? "/i " : "/x ") + fso.GetFileName(pkg) + " (exit " + status + ", log " + log + ")");
        }
    } else if (command == "installed") {
        if (operands.length != 1 || !PRODUCTS[operands[0]] || !options.version) usage("installed takes x64|x86 and --version X.Y.Z");
        installed(operands[0], options.version);
    } else if (command == "gone") {
        gone();
    } else {
        usage(command ? "unknown command " + command : "no command");
    }
}

// The body under a catch-all: cscript reports an uncaught error and exits
// 0, which would pass the step with nothing checked.
try {
    main();
} catch (e) {
    WScript.Echo("packages.js: error: " + (e.description || e.message || "no description") + " (0x" + ((e.number || 0) >>> 0).toString(16) + ")");
    WScript.Quit(3);
}
WScript.Echo(failures ? "packages.js: FAIL, " + failures + " check(s) failed" : "packages.js: PASS");
WScript.Quit(failures ? 1 : 0);

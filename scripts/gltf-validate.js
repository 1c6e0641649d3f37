#!/usr/bin/env node
// Checks glTF 2.0 files with the official validator (npm gltf-validator, installed by
// scripts/install-deps into BUILD/node-tools). External files (images, buffers) are read
// relative to each checked file, so a missing one counts as an error.
//
//   node scripts/gltf-validate.js [--tools DIR] [--ignore-missing] FILE...
//
// --ignore-missing: external files that can't be read are not errors (a scene that names
// images it does not ship).
// Prints one line per file ("FILE: E errors, W warnings") and each error below it.
// Exit status: 0 no file has errors; 1 some file has; 2 usage, or the validator is
// missing or could not read a file.
'use strict';
const fs = require('fs');
const path = require('path');

let tools = path.join(__dirname, '..', 'build', 'node-tools');
let ignoreMissing = false;
const files = [];
const args = process.argv.slice(2);
for (let i = 0; i < args.length; ++i) {
  if (args[i] === '--tools' && i + 1 < args.length) tools = args[++i];
  else if (args[i] === '--ignore-missing') ignoreMissing = true;
  else files.push(args[i]);
}
if (files.length === 0) {
  console.error('usage: gltf-validate.js [--tools DIR] [--ignore-missing] FILE...');
  process.exit(2);
}
let validator;
try {
  validator = require(path.join(path.resolve(tools), 'node_modules', 'gltf-validator'));
} catch (e) {
  console.error('gltf-validate: the validator is not installed in ' + tools +
                ' (scripts/install-deps installs it)');
  process.exit(2);
}

async function check(file) {
  const bytes = new Uint8Array(fs.readFileSync(file));
  const report = await validator.validateBytes(bytes, {
    uri: file,
    maxIssues: 0,
    ignoredIssues: ignoreMissing ? ['IO_ERROR'] : [],
    externalResourceFunction: (uri) => new Promise((resolve, reject) => {
      fs.readFile(path.resolve(path.dirname(file), decodeURIComponent(uri)), (err, data) => {
        if (err) reject(err.toString()); else resolve(new Uint8Array(data));
      });
    }),
  });
  const issues = report.issues;
  console.log(file + ': ' + issues.numErrors + ' errors, ' + issues.numWarnings + ' warnings');
  for (const m of issues.messages)
    if (m.severity === 0) console.log('  ' + m.code + ' at ' + m.pointer + ': ' + m.message);
  return issues.numErrors;
}

(async () => {
  let errors = 0;
  for (const f of files) {
    try {
      errors += await check(f);
    } catch (e) {
      console.error('gltf-validate: ' + f + ': ' + e);
      process.exit(2);
    }
  }
  process.exit(errors > 0 ? 1 : 0);
})();

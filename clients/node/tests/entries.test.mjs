// The two entry points give the same functions and the same error class, and the declarations
// say what the code does (checked by tsc, when it is installed: it is no dependency).
import test from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { spawnSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';
import zul, { createClient, ZulProcessError, codes } from 'zul-process';

const require = createRequire(import.meta.url);
const packageRoot = fileURLToPath(new URL('..', import.meta.url));

test('the ES module entry exports what the CommonJS entry exports, as the same objects', () => {
  const common = require('zul-process');
  assert.equal(createClient, common.createClient);
  assert.equal(ZulProcessError, common.ZulProcessError);
  assert.equal(codes, common.codes);
  assert.equal(zul, common);
  assert.deepEqual(Object.keys(common).sort(), ['ZulProcessError', 'codes', 'createClient']);
});

test('the declarations type-check a CommonJS and an ES module caller', (t) => {
  const tsc = spawnSync('tsc', ['-p', 'tests/types/tsconfig.json'], { cwd: packageRoot, encoding: 'utf8' });
  if (tsc.error && tsc.error.code === 'ENOENT') {
    t.skip('tsc is not installed (Debian: node-typescript); the declarations are not checked');
    return;
  }
  assert.equal(tsc.status, 0, tsc.stdout + tsc.stderr);
});

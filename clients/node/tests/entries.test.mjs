// The two entry points give the same functions and the same error class, and the declarations
// say what the code does (checked by tsc, when it is installed: it is no dependency).
import test from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { spawnSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';
import helpers from './helpers.js';
import zul, { createClient, createdAtMs, createdAtDate, ZulProcessError, codes } from 'zul-process';

const require = createRequire(import.meta.url);
const packageRoot = fileURLToPath(new URL('..', import.meta.url));
const { standIn } = helpers;

test('the ES module entry exports what the CommonJS entry exports, as the same objects', () => {
  const common = require('zul-process');
  assert.equal(createClient, common.createClient);
  assert.equal(ZulProcessError, common.ZulProcessError);
  assert.equal(codes, common.codes);
  assert.equal(createdAtMs, common.createdAtMs);
  assert.equal(createdAtDate, common.createdAtDate);
  assert.equal(zul, common);
  assert.deepEqual(Object.keys(common).sort(),
    ['ZulProcessError', 'codes', 'createClient', 'createdAtDate', 'createdAtMs']);
});

test('from an ES module: the keyed rows, the date helper and a signal', async (t) => {
  const client = createClient({ binary: standIn });
  t.after(() => client.close());
  const rows = await client.inspect(['007', 8, 7]);
  assert.deepEqual([...rows.byPid.keys()], [7, 8]);
  assert.equal(rows.byPid.get(8), rows[1]);
  assert.equal(createdAtDate('116444736000000000').getTime(), 0);
  await assert.rejects(client.sample([1], { signal: AbortSignal.abort() }), { name: 'AbortError' });
});

test('the declarations type-check a CommonJS and an ES module caller', async (t) => {
  // Without the DOM's types (as under Node), and with them, where AbortSignal is a real type.
  for (const project of ['tests/types/tsconfig.json', 'tests/types/tsconfig.dom.json']) {
    await t.test(project, (t) => {
      const tsc = spawnSync('tsc', ['-p', project], { cwd: packageRoot, encoding: 'utf8' });
      if (tsc.error && tsc.error.code === 'ENOENT') {
        t.skip('tsc is not installed (Debian: node-typescript); the declarations are not checked');
        return;
      }
      assert.equal(tsc.status, 0, tsc.stdout + tsc.stderr);
    });
  }
});

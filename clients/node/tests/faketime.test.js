'use strict';
// The real `zul-process serve` keeps a reading for a percentage across more than a minute: its
// clocks moved on by libfaketime (nobody waits a minute), through the client, with the forget
// time the client passes. libfaketime needs a dynamically linked binary:
// ZUL_PROCESS_FAKETIME_BINARY, else the debug build of this checkout. The stand-in covers the
// same in client.test.js wherever this cannot run, and this test says why it did not.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawn, spawnSync } = require('node:child_process');
const { performance } = require('node:perf_hooks');
const { createClient } = require('..');
const { packageRoot, temporaryFolder } = require('./helpers');

const binary = path.resolve(process.env.ZUL_PROCESS_FAKETIME_BINARY ||
  path.join(packageRoot, '..', '..', 'build', 'debug', 'zul-process'));
const library = ['/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1',
  '/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1', '/usr/lib/faketime/libfaketime.so.1']
  .find((file) => fs.existsSync(file));

// Why the test cannot run here, or false.
function unavailable() {
  if (process.platform !== 'linux') return 'libfaketime is for Linux';
  if (!library) return 'no libfaketime (Debian: faketime)';
  if (!fs.existsSync(binary)) return `no zul-process at ${binary}: build the debug preset or set ZUL_PROCESS_FAKETIME_BINARY`;
  const probe = spawnSync(binary, ['serve', '--forget-after=60'], { input: '', encoding: 'utf8' });
  if (probe.status !== 0) return `${binary} has no "serve --forget-after" yet: ${probe.stderr.trim()}`;
  // A static binary ignores LD_PRELOAD: its clock would not move.
  const file = spawnSync('ldd', [binary], { encoding: 'utf8' });
  if (file.status !== 0) return `${binary} is not dynamically linked, so libfaketime cannot reach it`;
  return false;
}
// In CI it must run: a reason not to is a failure there, not a skip.
const reason = unavailable();
const skip = process.env.CI === 'true' ? false : reason;

test('the real tool: a reading more than a minute old still gives a percentage', { skip }, async (t) => {
  assert.equal(reason, false, 'cannot run here');
  const cases = [
    { options: {}, laterSeconds: 61, percent: true },
    { options: {}, laterSeconds: 601, percent: false },
    { options: { forgetAfterSeconds: 60 }, laterSeconds: 61, percent: false },
    { options: { forgetAfterSeconds: 3600 }, laterSeconds: 3599, percent: true },
  ];
  for (const c of cases) {
    await t.test(`${JSON.stringify(c.options)}, ${c.laterSeconds} s later`, async (t) => {
      const clock = path.join(temporaryFolder(t), 'faketime');
      fs.writeFileSync(clock, '+0\n');
      const client = createClient({
        binary, ...c.options,
        env: { ...process.env, LD_PRELOAD: library, FAKETIME_TIMESTAMP_FILE: clock, FAKETIME_NO_CACHE: '1' },
      });
      t.after(() => client.close());
      const burner = spawn(process.execPath, ['-e', 'for (;;);'], { stdio: 'ignore' });
      t.after(() => burner.kill('SIGKILL'));

      const aBefore = performance.now();
      const [a] = await client.sample([burner.pid]);
      const aAfter = performance.now();
      assert.equal(a.cpuPercent, null);
      await new Promise((resolve) => setTimeout(resolve, 200));
      // The child's clocks jump ahead; this process's do not.
      fs.writeFileSync(clock, `+${c.laterSeconds}\n`);
      const bBefore = performance.now();
      const [b] = await client.sample([burner.pid]);
      const bAfter = performance.now();
      if (!c.percent) {
        assert.equal(b.cpuPercent, null);
        return;
      }
      // Each reading was made between its request's sending and its answer, by a clock that ran
      // laterSeconds ahead for the second.
      const grown = b.cpuUserMs + b.cpuSystemMs - a.cpuUserMs - a.cpuSystemMs;
      assert.ok(grown > 0, 'the burner burned');
      const lowest = (100 * grown) / (1000 * c.laterSeconds + bAfter - aBefore);
      const highest = (100 * grown) / (1000 * c.laterSeconds + bBefore - aAfter);
      assert.ok(b.cpuPercent >= lowest * (1 - 1e-9) && b.cpuPercent <= highest * (1 + 1e-9),
        `cpuPercent ${b.cpuPercent} outside [${lowest}, ${highest}]`);
    });
  }
});

'use strict';
// The child and the Node process that owns it: an idle client lets Node exit, a pending request
// or a close holds it until done, and no child is left behind when Node goes.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { standIn, temporaryFolder, starts, alive, eventually, runNode } = require('./helpers');

// A script in a Node of its own, with a client of the stand-in as `client` and the stand-in's
// starts recorded in `startsFile`. The client has no timeout, so no timer holds Node while a
// request waits: only the client can (its own timer never does).
async function runWithClient(t, body) {
  const startsFile = path.join(temporaryFolder(t), 'starts');
  const source = `
    const fs = require('node:fs');
    const { createClient } = require('.');
    const startsFile = ${JSON.stringify(startsFile)};
    const client = createClient({
      binary: ${JSON.stringify(standIn)},
      env: { ...process.env, STAND_IN_STARTS: startsFile },
      timeoutMs: Infinity,
    });
    ${body}`;
  return { ...(await runNode(source)), starts: () => starts(startsFile) };
}

test('an idle client lets Node exit once its answers are in, and its child ends', async (t) => {
  const run = await runWithClient(t, `
    client.sample([1]).then((rows) => console.log(rows[0].pid));
    client.inspect([2]).then((rows) => console.log(rows[0].pid));`);
  assert.deepEqual(run, { status: 0, signal: null, stdout: '1\n2\n', stderr: '', starts: run.starts });
  assert.equal(run.starts().length, 1);
  await eventually(() => !alive(run.starts()[0]), 'the idle child ended with Node');
});

test('close holds Node until the child has answered and exited', async (t) => {
  const run = await runWithClient(t, `
    client.sample([1]).then((rows) => console.log('answered', rows[0].pid));
    client.close().then(() => console.log('closed'));`);
  assert.equal(run.stdout, 'answered 1\nclosed\n');
  assert.equal(run.status, 0);
});

test('Node exiting while a child is stuck in a request kills the child', async (t) => {
  // The stand-in's hang (4294967001) also ignores the end of its input: only a kill ends it.
  const run = await runWithClient(t, `
    client.sample(['4294967001']).catch(() => {});
    const started = setInterval(() => {
      if (fs.existsSync(startsFile)) process.exit(3);
    }, 10);`);
  assert.equal(run.status, 3);
  const [child] = run.starts();
  assert.ok(child, 'the child had started');
  t.after(() => alive(child) && process.kill(child, 'SIGKILL'));
  await eventually(() => !alive(child), 'the stuck child was killed');
});

test('a request given up lets Node exit though its answer never came', async (t) => {
  const run = await runWithClient(t, `
    const controller = new AbortController();
    client.sample(['4294967001'], { signal: controller.signal })
      .catch((error) => console.log(error.name));
    setTimeout(() => controller.abort(), 50);`);
  assert.equal(run.stdout, 'AbortError\n');
  assert.equal(run.status, 0);
  const [child] = run.starts();
  t.after(() => alive(child) && process.kill(child, 'SIGKILL'));
  await eventually(() => !alive(child), 'the stuck child was killed as Node exited');
});

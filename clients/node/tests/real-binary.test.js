'use strict';
// The client against the real `zul-process serve` (ZUL_PROCESS_BINARY, else the release build
// of this checkout): its answers are the one-shot command's, refusals included; CPU percentage
// agrees with the rows' own times and the time between the readings; and the client survives a
// child stopped, killed or timed out, and leaves none behind.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const fs = require('node:fs');
const { spawn, spawnSync } = require('node:child_process');
const { performance } = require('node:perf_hooks');
const { createClient, createdAtMs, createdAtDate, codes } = require('..');
const { packageRoot, alive, eventually, childrenNamed, runNode } = require('./helpers');

const binary = path.resolve(process.env.ZUL_PROCESS_BINARY ||
  path.join(packageRoot, '..', '..', 'build', 'release', 'zul-process'));
const linux = process.platform === 'linux';
// An ID no process has: above Linux's largest PID and a multiple of 4 (Windows ignores the low
// two bits of an ID).
const FREE_PID = 2147483632;

// Why these tests cannot run, or false.
function unavailable() {
  if (!fs.existsSync(binary)) {
    return `no zul-process at ${binary}: build the release preset or set ZUL_PROCESS_BINARY`;
  }
  const probe = spawnSync(binary, ['serve'], { input: `sample ${process.pid}\n`, encoding: 'utf8' });
  if (probe.status !== 0 || !probe.stdout.startsWith('{"samples":[')) {
    return `${binary} has no serve command yet (it answered status ${probe.status}: ` +
      `${(probe.stderr || probe.stdout).trim()})`;
  }
  return false;
}
// A binary that is missing or has no session fails here, once, rather than passing by skipping.
const missing = unavailable();
test('the tool under test answers a session', () => {
  assert.equal(missing, false, missing || '');
});
const skip = missing ? 'the tool under test is unusable (see above)' : false;

function oneShot(...words) {
  const run = spawnSync(binary, words, { encoding: 'utf8' });
  return { status: run.status, stdout: run.stdout, stderr: run.stderr };
}

function realClient(t, options = {}) {
  const client = createClient({ binary, ...options });
  t.after(() => client.close());
  return client;
}

// A process that sleeps, ended with the test.
function sleeper(t) {
  const child = spawn('sleep', ['600'], { stdio: 'ignore' });
  t.after(() => child.kill('SIGKILL'));
  return child.pid;
}

// The client's one child, on Linux.
function serveChild() {
  const children = childrenNamed('zul-process');
  assert.equal(children.length, 1, `one zul-process child, not ${children.length}`);
  return children[0];
}

const withoutWindow = (rows) => rows.map((row) => (row.peak ? { ...row, peak: { ...row.peak, windowMs: 0 } } : row));

test('answers are the one-shot command\'s: rows, and refusals with its message', { skip }, async (t) => {
  const client = realClient(t);
  const sleeping = sleeper(t);
  await eventually(() => oneShot('inspect', String(sleeping)).stdout.includes('"commandLine":"sleep 600"'),
    'the sleeper has executed sleep');
  const inspected = [String(sleeping), String(FREE_PID), String(process.pid), String(sleeping)];
  assert.deepEqual(await client.inspect(inspected),
    JSON.parse(oneShot('inspect', ...inspected).stdout).processes);
  // A sleeping process's times and memory hold still, and a first reading has no percentage;
  // only the time the reading took may differ.
  const sampled = [String(sleeping), String(FREE_PID)];
  assert.deepEqual(withoutWindow(await client.sample(sampled)),
    withoutWindow(JSON.parse(oneShot('sample', ...sampled).stdout).samples));

});

test('the client refuses exactly the lists the tool refuses, with its message, before asking', { skip }, async (t) => {
  const client = realClient(t);
  const lists = [
    [], ['0'], ['00'], ['x'], ['-5'], ['+5'], [' 5'], ['1.5'], ['1e3'], ['0x10'], ['', '1'], ['\u0663'],
    ['\uff11'], ['4294967295'], ['4294967296'], ['00004294967295'], ['99999999999'], ['99999999999x'],
    ['5', '0', 'x'], ['00', '99999999999'], ['007', '7', String(process.pid)],
  ];
  for (const pids of lists) {
    for (const command of ['sample', 'inspect']) {
      const expected = oneShot(command, ...pids);
      const what = `${command} ${JSON.stringify(pids)}`;
      if (expected.status === 1) {
        const message = expected.stderr.replace(/\n$/, '');
        await assert.rejects(client[command](pids), (error) => {
          assert.equal(error.code, codes.INVALID_PID, what);
          assert.ok(error.message === message || error.message.endsWith(` refused: ${message}`),
            `${what}: ${error.message} does not give ${message}`);
          return true;
        });
      } else {
        assert.equal(expected.status, 0, what);
        const rows = await client[command](pids);
        assert.deepEqual(rows.map((row) => [row.pid, row.status]),
          JSON.parse(expected.stdout)[command === 'sample' ? 'samples' : 'processes']
            .map((row) => [row.pid, row.status]), what);
      }
    }
  }
});

test('CPU percentage: null at first, then the growth of the rows\' times over the time between', { skip }, async (t) => {
  const client = realClient(t);
  const burner = spawn(process.execPath, ['-e', 'for (;;);'], { stdio: 'ignore' });
  t.after(() => burner.kill('SIGKILL'));
  const readings = [];
  for (let i = 0; i < 3; i++) {
    const before = performance.now();
    const [row] = await client.sample([burner.pid]);
    readings.push({ before, row, after: performance.now() });
    await new Promise((resolve) => setTimeout(resolve, 300));
  }
  assert.equal(readings[0].row.cpuPercent, null);
  for (let i = 1; i < readings.length; i++) {
    const [a, b] = [readings[i - 1], readings[i]];
    assert.equal(b.row.status, 'found');
    const grown = b.row.cpuUserMs + b.row.cpuSystemMs - a.row.cpuUserMs - a.row.cpuSystemMs;
    // Each reading was made between the request's sending and its answer.
    const lowest = (100 * grown) / (b.after - a.before);
    const highest = (100 * grown) / (b.before - a.after);
    assert.ok(b.row.cpuPercent >= lowest * (1 - 1e-9) && b.row.cpuPercent <= highest * (1 + 1e-9),
      `cpuPercent ${b.row.cpuPercent} outside [${lowest}, ${highest}]`);
    assert.ok(grown > 0, 'the burner burned');
  }
});

test('many requests at once are answered in order', { skip }, async (t) => {
  const client = realClient(t);
  const asked = [];
  for (let i = 0; i < 200; i++) {
    const pids = [process.pid, FREE_PID - 4 * i];
    if (i % 9 === 0) asked.push({ answer: client.inspect([0, i]).catch((error) => error), refused: true });
    else asked.push({ answer: i % 2 ? client.sample(pids) : client.inspect(pids), pids });
  }
  for (const { answer, pids, refused } of asked) {
    if (refused) {
      assert.equal((await answer).code, codes.INVALID_PID);
    } else {
      const rows = await answer;
      assert.deepEqual(rows.map((row) => [row.pid, row.status]), [[pids[0], 'found'], [pids[1], 'not_found']]);
    }
  }
});

test('a timeout means a stuck child: not a busy Node, nor many requests at once', { skip }, async (t) => {
  await t.test('Node blocked 300 ms, timeoutMs 150', async (t) => {
    const client = realClient(t, { timeoutMs: 150 });
    await client.sample([process.pid], { timeoutMs: 60_000 });
    const answer = client.sample([process.pid]);
    const end = performance.now() + 300;
    while (performance.now() < end);
    assert.equal((await answer)[0].status, 'found');
  });
  await t.test('10,000 requests at once, timeoutMs 200', async (t) => {
    const client = realClient(t, { timeoutMs: 200 });
    await client.sample([process.pid], { timeoutMs: 60_000 });
    const asked = [];
    for (let i = 0; i < 10_000; i++) asked.push(client.sample([process.pid, FREE_PID - 4 * (i % 1000)]));
    const answers = await Promise.allSettled(asked);
    const wrong = answers.filter((a, i) => a.status !== 'fulfilled' ||
      a.value[0].status !== 'found' || a.value[1].pid !== FREE_PID - 4 * (i % 1000));
    assert.deepEqual(wrong.slice(0, 3), [], `${wrong.length} of 10000 went wrong`);
  });
});

test('createdAt as a date: the start the kernel gives the process, to the millisecond', { skip: skip || !linux }, async (t) => {
  const client = realClient(t);
  const pid = sleeper(t);
  const [row] = await client.inspect([pid]);
  assert.equal(row.status, 'found');
  const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
  const startTicks = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[19]);
  const bootSeconds = Number(/^btime ([0-9]+)$/m.exec(fs.readFileSync('/proc/stat', 'utf8'))[1]);
  const ticksPerSecond = Number(spawnSync('getconf', ['CLK_TCK'], { encoding: 'utf8' }).stdout);
  const expected = bootSeconds * 1000 + (startTicks * 1000) / ticksPerSecond;
  assert.equal(createdAtMs(row.createdAt), expected);
  assert.equal(createdAtDate(row.createdAt).getTime(), expected);
});

test('a child stopped and killed mid-request: the request rejects, the next starts another', { skip: skip || !linux }, async (t) => {
  const client = realClient(t);
  await client.sample([process.pid]);
  const first = serveChild();
  process.kill(first, 'SIGSTOP');
  const pending = client.sample([process.pid]);
  process.kill(first, 'SIGKILL');
  await assert.rejects(pending, {
    code: codes.EXITED, message: `zul-process serve (${binary}) ended before answering: killed by SIGKILL`,
  });
  const [row] = await client.sample([process.pid]);
  assert.equal(row.status, 'found');
  assert.notEqual(serveChild(), first);
});

test('a child that does not answer in time is ended, and the next request starts another', { skip: skip || !linux }, async (t) => {
  const client = realClient(t, { timeoutMs: 3000 });
  await client.inspect([process.pid]);
  const first = serveChild();
  process.kill(first, 'SIGSTOP');
  await assert.rejects(client.inspect([process.pid]), { code: codes.TIMEOUT });
  await eventually(() => !alive(first), 'the stopped child was killed');
  const [row] = await client.inspect([process.pid]);
  assert.equal(row.status, 'found');
  assert.notEqual(serveChild(), first);
});

test('diagnostics: each answer carries its own request\'s', { skip }, async (t) => {
  const client = realClient(t, { env: { ...process.env, ZUL_DIAGNOSTICS_ENABLED: '1' } });
  for (let i = 0; i < 2; i++) {
    const rows = await client.sample([process.pid]);
    assert.equal(rows.length, 1);
    const main = rows.diagnostics.functions.find((f) => f.name === 'main');
    assert.equal(main.calls, 1);
  }
});

test('close: the child answers what it was sent and exits', { skip: skip || !linux }, async (t) => {
  const client = realClient(t);
  await client.sample([process.pid]);
  const child = serveChild();
  const pending = client.inspect([process.pid, FREE_PID]);
  await client.close();
  assert.deepEqual((await pending).map((row) => row.status), ['found', 'not_found']);
  assert.equal(alive(child), false);
});

// A script that asks once and then idles or waits to be killed, printing its child's ID.
const asksOnce = (then) => `
  const { createClient } = require('.');
  const { childrenNamed } = require('./tests/helpers');
  const client = createClient({ binary: ${JSON.stringify(binary)} });
  client.sample([process.pid]).then((rows) => {
    console.log(rows[0].status, childrenNamed('zul-process').join(','));
    ${then}
  });`;

test('an idle client lets Node exit, and the child ends with it', { skip: skip || !linux }, async () => {
  const run = await runNode(asksOnce(''));
  assert.equal(run.status, 0, run.stderr);
  const [status, child] = run.stdout.trim().split(' ');
  assert.equal(status, 'found');
  await eventually(() => !alive(Number(child)), 'the child ended');
});

test('Node killed outright: the child sees its input end and exits', { skip: skip || !linux }, async () => {
  let script;
  const printed = await new Promise((resolve) => {
    script = spawn(process.execPath, ['-e', asksOnce('setInterval(() => {}, 1000);')], { cwd: packageRoot });
    script.stdout.once('data', (data) => resolve(String(data)));
  });
  const child = Number(printed.trim().split(' ')[1]);
  assert.ok(alive(child));
  script.kill('SIGKILL');
  await eventually(() => !alive(child), 'the orphaned child ended');
});

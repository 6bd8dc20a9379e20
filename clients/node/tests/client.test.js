'use strict';
// The client against the stand-in for `zul-process serve`: what it sends, how it pairs answers
// with requests, and what becomes of requests when the child times out, dies or goes out of step.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { createClient, codes } = require('..');
const { standIn, temporaryFolder, starts, receivedLines, alive, eventually } = require('./helpers');

// A client of the stand-in, with the files that record its starts and the lines it received.
function standInClient(t, options = {}, env = {}) {
  // Registered before the folder's removal, so it runs first: a stand-in left hanging by a
  // fault would hold close() forever.
  t.after(() => {
    for (const pid of starts(startsFile)) if (alive(pid)) process.kill(pid, 'SIGKILL');
    return client.close();
  });
  const folder = temporaryFolder(t);
  const startsFile = path.join(folder, 'starts');
  const linesFile = path.join(folder, 'lines');
  const client = createClient({
    binary: standIn,
    env: { ...process.env, STAND_IN_STARTS: startsFile, STAND_IN_LINES: linesFile, ...env },
    ...options,
  });
  return { client, starts: () => starts(startsFile), lines: () => receivedLines(linesFile) };
}

const notFoundSample = (pid) => ({
  cpuPercent: null, cpuSystemMs: null, cpuUserMs: null, peak: null, pid, rssBytes: null,
  status: 'not_found', systemPeakBytes: null, unavailable: 'PROCESS_NOT_FOUND',
});

test('each call is one request line of its words; the tool judges them', async (t) => {
  const { client, lines } = standInClient(t);
  const cases = [
    { call: 'sample', pids: [1234], line: 'sample 1234', rows: [notFoundSample(1234)] },
    { call: 'sample', pids: 1234, line: 'sample 1234', rows: [notFoundSample(1234)] },
    { call: 'inspect', pids: [1, 2n, '0003'], line: 'inspect 1 2 0003',
      rows: [{ pid: 1, status: 'not_found' }, { pid: 2, status: 'not_found' }, { pid: 3, status: 'not_found' }] },
    { call: 'inspect', pids: new Set([5, 6, 5]), line: 'inspect 5 6',
      rows: [{ pid: 5, status: 'not_found' }, { pid: 6, status: 'not_found' }] },
    { call: 'sample', pids: [], line: 'sample', refused: 'provide at least one process ID' },
    { call: 'sample', pids: [5, 0], line: 'sample 5 0', refused: 'process ID must be positive' },
    { call: 'inspect', pids: [-1], line: 'inspect -1', refused: 'process IDs must be positive decimal integers' },
    { call: 'sample', pids: [1.5], line: 'sample 1.5', refused: 'process IDs must be positive decimal integers' },
    { call: 'sample', pids: [1e21], line: 'sample 1e+21', refused: 'process IDs must be positive decimal integers' },
    { call: 'sample', pids: ['4294967296'], line: 'sample 4294967296', refused: 'process ID out of range' },
  ];
  for (const c of cases) {
    const answer = client[c.call](c.pids);
    if (c.refused) {
      await assert.rejects(answer, { code: codes.REFUSED, message: c.refused }, c.line);
    } else {
      assert.deepEqual(await answer, c.rows, c.line);
    }
  }
  assert.deepEqual(lines(), cases.map((c) => c.line));
});

test('an ID that cannot travel as one word rejects before anything is sent', async (t) => {
  const { client, starts, lines } = standInClient(t);
  const cases = [
    ['1\nsample 2'], ['1 2'], ['1\t2'], [''], ['1\r'], ['\0'], [1, ' '],
    [null], [undefined], [{}], [[1]], [true], [Symbol('1')],
  ];
  for (const [index, pids] of cases.entries()) {
    await assert.rejects(client.sample(pids), { code: codes.INVALID_PID }, `case ${index}`);
  }
  await assert.rejects(client.inspect(null), { code: codes.INVALID_PID });
  assert.deepEqual(starts(), []);
  assert.deepEqual(await client.sample([7]), [notFoundSample(7)]);
  assert.deepEqual(lines(), ['sample 7']);
});

test('many requests at once: one child, each answer to its own request', async (t) => {
  const { client, starts } = standInClient(t);
  assert.deepEqual(starts(), [], 'no child before the first request');
  const asked = [];
  for (let i = 1; i <= 300; i++) {
    if (i % 7 === 0) asked.push({ answer: client.sample([0]), refused: 'process ID must be positive' });
    else if (i % 2) asked.push({ answer: client.sample([i, i + 1000]), rows: [notFoundSample(i), notFoundSample(i + 1000)] });
    else asked.push({ answer: client.inspect([i]), rows: [{ pid: i, status: 'not_found' }] });
  }
  for (const { answer, rows, refused } of asked) {
    if (refused) await assert.rejects(answer, { code: codes.REFUSED, message: refused });
    else assert.deepEqual(await answer, rows);
  }
  assert.equal(starts().length, 1);
});

test('no answer in time: that request times out, the child is ended, the next request starts another', async (t) => {
  // Long enough for a child to start on a busy machine: the first request starts it.
  const { client, starts } = standInClient(t, { timeoutMs: 5000 });
  assert.deepEqual(await client.sample([4]), [notFoundSample(4)]);
  const stuck = client.sample(['hang']);
  const behind = client.inspect([5]);
  await assert.rejects(stuck, {
    code: codes.TIMEOUT, message: 'zul-process serve gave no answer within 5000 ms; the session was ended',
  });
  await assert.rejects(behind, {
    code: codes.EXITED, message: 'zul-process serve was ended when an earlier request timed out',
  });
  const [first] = starts();
  await eventually(() => !alive(first), 'the timed-out child ended');
  assert.deepEqual(await client.sample([6]), [notFoundSample(6)]);
  assert.equal(starts().length, 2);
});

test('a child killed mid-request: every pending request rejects, the next request starts another', async (t) => {
  const { client, starts } = standInClient(t);
  const pending = [client.sample(['hang']), client.inspect([3]), client.sample([4])];
  await eventually(() => starts().length === 1, 'the child started');
  process.kill(starts()[0], 'SIGKILL');
  for (const answer of pending) {
    await assert.rejects(answer, {
      code: codes.EXITED, message: `zul-process serve (${standIn}) ended before answering: killed by SIGKILL`,
    });
  }
  assert.deepEqual(await client.inspect([8]), [{ pid: 8, status: 'not_found' }]);
  assert.equal(starts().length, 2);
});

test('a child that exits unasked says why: its status and the end of its stderr', async (t) => {
  const { client, starts } = standInClient(t);
  await assert.rejects(client.sample(['exit:101']), {
    code: codes.EXITED,
    message: `zul-process serve (${standIn}) ended before answering: exit status 101: stand-in: exiting with 101`,
  });
  assert.deepEqual(await client.sample([2]), [notFoundSample(2)]);
  assert.equal(starts().length, 2);
});

test('an answer out of step ends the child; the next request starts another', async (t) => {
  await t.test('a line that is not JSON', async (t) => {
    const { client, starts } = standInClient(t);
    const garbled = client.sample(['garbage']);
    const behind = client.sample([3]);
    await assert.rejects(garbled, {
      code: codes.PROTOCOL,
      message: 'zul-process serve answered with a line that is not a JSON object: "this is not JSON"',
    });
    await assert.rejects(behind, {
      code: codes.PROTOCOL,
      message: 'zul-process serve was ended because it answered with a line that is not a JSON object',
    });
    await eventually(() => !alive(starts()[0]), 'the garbling child ended');
    assert.deepEqual(await client.sample([4]), [notFoundSample(4)]);
    assert.equal(starts().length, 2);
  });
  await t.test('an answer to no request', async (t) => {
    const { client, starts } = standInClient(t);
    assert.deepEqual(await client.sample([1, 'twice']), [notFoundSample(1)]);
    await eventually(() => !alive(starts()[0]), 'the child that answered twice ended');
    assert.deepEqual(await client.sample([4]), [notFoundSample(4)]);
    assert.equal(starts().length, 2);
  });
});

test('a long answer that arrives in pieces, cut inside characters, reads whole', async (t) => {
  const { client } = standInClient(t);
  const [row] = await client.inspect(['split']);
  assert.equal(row.commandLine, 'é€😀 é '.repeat(12) + 'ü'.repeat(70000));
});

test('diagnostics ride on the rows, out of the way of iteration, equality and JSON', async (t) => {
  await t.test('switched on in the child\'s environment', async (t) => {
    const { client } = standInClient(t, {}, { ZUL_DIAGNOSTICS_ENABLED: '1' });
    const rows = await client.sample([5]);
    assert.deepEqual(rows.diagnostics, {
      functions: [{ calls: 1, kind: 'sync', maxMs: 0.001, name: 'main', totalMs: 0.001 }], resources: {},
    });
    assert.deepEqual(rows, [notFoundSample(5)]);
    assert.equal(JSON.stringify(rows), JSON.stringify([notFoundSample(5)]));
  });
  await t.test('off', async (t) => {
    const { client } = standInClient(t, {}, { ZUL_DIAGNOSTICS_ENABLED: '0' });
    assert.equal((await client.sample([5])).diagnostics, undefined);
  });
});

test('close: what was sent is answered, the child ends, later requests reject', async (t) => {
  const { client, starts } = standInClient(t);
  const sent = [client.sample([1]), client.inspect([2])];
  const closed = client.close();
  assert.deepEqual(await sent[0], [notFoundSample(1)]);
  assert.deepEqual(await sent[1], [{ pid: 2, status: 'not_found' }]);
  await closed;
  assert.equal(alive(starts()[0]), false);
  await assert.rejects(client.sample([3]), { code: codes.CLOSED, message: 'the zul-process client is closed' });
  await client.close();
  assert.equal(starts().length, 1);
});

test('close of a client never asked starts nothing', async (t) => {
  const { client, starts } = standInClient(t);
  await client.close();
  await assert.rejects(client.inspect([1]), { code: codes.CLOSED });
  assert.deepEqual(starts(), []);
});

test('options are checked when the client is made', () => {
  const bad = [
    [{ timeoutMs: 0 }, RangeError], [{ timeoutMs: -1 }, RangeError], [{ timeoutMs: NaN }, RangeError],
    [{ timeoutMs: 2 ** 31 }, RangeError], [{ timeoutMs: '10' }, TypeError],
    [{ binary: '' }, TypeError], [{ binary: 1 }, TypeError], [{ env: null }, TypeError], [null, TypeError],
  ];
  for (const [options, type] of bad) {
    assert.throws(() => createClient(options), type, JSON.stringify(options));
  }
  for (const options of [{}, { timeoutMs: Infinity }, { timeoutMs: 2 ** 31 - 1 }, undefined]) {
    createClient(options).close();
  }
});

'use strict';
// The client against the stand-in for `zul-process serve`: what it sends, how it pairs answers
// with requests, what it refuses to send, and what becomes of requests when the child is silent,
// dies or goes out of step, or their caller gives up on them.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { performance } = require('node:perf_hooks');
const fs = require('node:fs');
const { getEventListeners } = require('node:events');
const { createClient, codes } = require('..');
const {
  standIn, cue, startArgs, temporaryFolder, starts, receivedLines, alive, eventually,
} = require('./helpers');

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
  const argsFile = path.join(folder, 'args');
  const client = createClient({
    binary: standIn,
    env: {
      ...process.env, STAND_IN_STARTS: startsFile, STAND_IN_LINES: linesFile, STAND_IN_ARGS: argsFile,
      ...env,
    },
    ...options,
  });
  return {
    client, folder, starts: () => starts(startsFile), lines: () => receivedLines(linesFile),
    args: () => startArgs(argsFile),
  };
}

// Long enough for a child to start on a busy machine.
const patient = { timeoutMs: 60_000 };

const notFoundSample = (pid) => ({
  cpuPercent: null, cpuSystemMs: null, cpuUserMs: null, peak: null, pid, rssBytes: null,
  status: 'not_found', systemPeakBytes: null, unavailable: 'PROCESS_NOT_FOUND',
});

test('a list the tool takes goes out as its words; rows come once per ID, keyed by PID too', async (t) => {
  const { client, lines } = standInClient(t);
  const cases = [
    { call: 'sample', pids: [1234], line: 'sample 1234', rows: [notFoundSample(1234)] },
    { call: 'sample', pids: 1234, line: 'sample 1234', rows: [notFoundSample(1234)] },
    { call: 'inspect', pids: [1, 2n, '0003'], line: 'inspect 1 2 0003',
      rows: [{ pid: 1, status: 'not_found' }, { pid: 2, status: 'not_found' }, { pid: 3, status: 'not_found' }] },
    { call: 'inspect', pids: new Set([5, 6, 5]), line: 'inspect 5 6',
      rows: [{ pid: 5, status: 'not_found' }, { pid: 6, status: 'not_found' }] },
    // Repeats go out as they are; the rows have each ID once, where it first came.
    { call: 'sample', pids: [9, '007', 7, 9n, 8], line: 'sample 9 007 7 9 8',
      rows: [notFoundSample(9), notFoundSample(7), notFoundSample(8)] },
    { call: 'inspect', pids: ['4294967295', 4294967294n], line: 'inspect 4294967295 4294967294',
      rows: [{ pid: 4294967295, status: 'not_found' }, { pid: 4294967294, status: 'not_found' }] },
  ];
  for (const c of cases) {
    const rows = await client[c.call](c.pids);
    assert.deepEqual(rows, c.rows, c.line);
    assert.ok(rows.byPid instanceof Map, c.line);
    assert.deepEqual([...rows.byPid], rows.map((row) => [row.pid, row]), c.line);
    assert.ok(rows.every((row) => rows.byPid.get(row.pid) === row), 'the same row objects');
    assert.deepEqual(Object.keys(rows), rows.map((_, i) => String(i)), 'byPid is not enumerable');
  }
  assert.deepEqual(lines(), cases.map((c) => c.line));
});

test('a list the tool would refuse rejects before anything is sent, naming the ID', async (t) => {
  const { client, starts, lines } = standInClient(t);
  const notDecimal = 'process IDs must be positive decimal integers';
  const cases = [
    [[], 'provide at least one process ID'],
    [new Set(), 'provide at least one process ID'],
    [[5, 0], `process ID 0 refused: process ID must be positive`],
    [['00'], `process ID "00" refused: process ID must be positive`],
    [[-0], `process ID 0 refused: process ID must be positive`],
    [[0n], `process ID 0n refused: process ID must be positive`],
    [['4294967296'], `process ID "4294967296" refused: process ID out of range`],
    [[4294967296n], `process ID 4294967296n refused: process ID out of range`],
    [[2 ** 32], `process ID 4294967296 refused: process ID out of range`],
    // The first bad ID decides, and digits are checked before the range.
    [[1, 'x', 0], `process ID "x" refused: ${notDecimal}`],
    [['99999999999x'], `process ID "99999999999x" refused: ${notDecimal}`],
    [[-1], `process ID -1 refused: ${notDecimal}`],
    [[1.5], `process ID 1.5 refused: ${notDecimal}`],
    [[1e21], `process ID 1e+21 refused: ${notDecimal}`],
    [[NaN], `process ID NaN refused: ${notDecimal}`],
    [[Infinity], `process ID Infinity refused: ${notDecimal}`],
    [['+5'], `process ID "+5" refused: ${notDecimal}`],
    [[' 5'], `process ID " 5" refused: ${notDecimal}`],
    [['5 6'], `process ID "5 6" refused: ${notDecimal}`],
    [['1\nsample 2'], `process ID "1\\nsample 2" refused: ${notDecimal}`],
    [['1\r'], `process ID "1\\r" refused: ${notDecimal}`],
    [[''], `process ID "" refused: ${notDecimal}`],
    [['\u0663'], `process ID "\u0663" refused: ${notDecimal}`],
    [['0x10'], `process ID "0x10" refused: ${notDecimal}`],
    [[null], 'process ID refused: a process ID must be a number, a bigint or a string, not null'],
    [null, 'process ID refused: a process ID must be a number, a bigint or a string, not null'],
    [[undefined], 'process ID refused: a process ID must be a number, a bigint or a string, not undefined'],
    [[{}], 'process ID refused: a process ID must be a number, a bigint or a string, not object'],
    [[[1]], 'process ID refused: a process ID must be a number, a bigint or a string, not object'],
    [[true], 'process ID refused: a process ID must be a number, a bigint or a string, not boolean'],
    [[Symbol('1')], 'process ID refused: a process ID must be a number, a bigint or a string, not symbol'],
  ];
  for (const [pids, message] of cases) {
    for (const call of ['sample', 'inspect']) {
      await assert.rejects(client[call](pids), { code: codes.INVALID_PID, message }, message);
    }
  }
  assert.deepEqual(starts(), [], 'no child was started for them');
  assert.deepEqual(await client.sample([7]), [notFoundSample(7)]);
  assert.deepEqual(lines(), ['sample 7']);
});

test('many requests at once: one child, each answer to its own request', async (t) => {
  const { client, starts } = standInClient(t);
  assert.deepEqual(starts(), [], 'no child before the first request');
  const asked = [];
  for (let i = 1; i <= 300; i++) {
    // Refused by the client at once, while the others wait; or by the child, in turn.
    if (i % 7 === 0) asked.push({ answer: client.sample([0]).catch((error) => error), refused: codes.INVALID_PID });
    else if (i % 11 === 0) asked.push({ answer: client.sample([cue.refuse]).catch((error) => error), refused: codes.REFUSED });
    else if (i % 2) asked.push({ answer: client.sample([i, i + 1000]), rows: [notFoundSample(i), notFoundSample(i + 1000)] });
    else asked.push({ answer: client.inspect([i]), rows: [{ pid: i, status: 'not_found' }] });
  }
  const messages = {
    [codes.INVALID_PID]: 'process ID 0 refused: process ID must be positive',
    [codes.REFUSED]: 'stand-in: refused on cue',
  };
  for (const { answer, rows, refused } of asked) {
    if (refused) {
      const { code, message } = await answer;
      assert.deepEqual({ code, message }, { code: refused, message: messages[refused] });
    } else {
      assert.deepEqual(await answer, rows);
    }
  }
  assert.equal(starts().length, 1);
});

test('a silent child: the request times out, the child is ended, the next request starts another', async (t) => {
  const { client, starts } = standInClient(t, { timeoutMs: 5000 });
  assert.deepEqual(await client.sample([4]), [notFoundSample(4)]);
  const stuck = client.sample([cue.hang]);
  const behind = client.inspect([5]);
  await assert.rejects(stuck, {
    code: codes.TIMEOUT,
    message: 'zul-process serve answered nothing for 5000 ms while a request waited; the session was ended',
  });
  await assert.rejects(behind, {
    code: codes.EXITED, message: 'zul-process serve was ended when an earlier request timed out',
  });
  const [first] = starts();
  await eventually(() => !alive(first), 'the timed-out child ended');
  assert.deepEqual(await client.sample([6]), [notFoundSample(6)]);
  assert.equal(starts().length, 2);
});

// Busy in this thread, as a slow handler would be: no timer, no I/O runs meanwhile.
function block(ms, until = () => true) {
  const end = performance.now() + ms;
  while (performance.now() < end || !until());
}

test('a timeout means a silent child, not a busy Node, an idle spell or a long queue', async (t) => {
  await t.test('Node blocked for twice timeoutMs while the answer came', async (t) => {
    const { client, starts, lines } = standInClient(t, { timeoutMs: 150 });
    await client.sample([1], patient);
    const answer = client.sample([2]);
    // Until the child has the request too, so that it has answered by the end.
    block(300, () => lines().length === 2);
    assert.deepEqual(await answer, [notFoundSample(2)]);
    assert.equal(starts().length, 1);
  });
  await t.test('a request after an idle spell longer than timeoutMs', async (t) => {
    const { client, starts } = standInClient(t, { timeoutMs: 200 });
    await client.sample([1], patient);
    await new Promise((resolve) => setTimeout(resolve, 400));
    assert.deepEqual(await client.sample([2]), [notFoundSample(2)]);
    assert.equal(starts().length, 1);
  });
  await t.test('10,000 requests at once, answered for far longer than timeoutMs', async (t) => {
    const { client, starts } = standInClient(t, { timeoutMs: 200 });
    await client.sample([1], patient);
    const asked = [];
    for (let pid = 1; pid <= 10_000; pid++) asked.push(client.inspect([pid]));
    const answers = await Promise.allSettled(asked);
    const wrong = answers.filter((a, i) => a.status !== 'fulfilled' || a.value[0].pid !== i + 1);
    assert.deepEqual(wrong.slice(0, 3), [], `${wrong.length} of 10000 went wrong`);
    assert.equal(starts().length, 1);
  });
});

test('timeoutMs per call: its own patience with a silent child', async (t) => {
  const { client, starts } = standInClient(t, { timeoutMs: Infinity });
  await client.sample([1]);
  await assert.rejects(client.sample([cue.hang], { timeoutMs: 100 }), {
    code: codes.TIMEOUT,
    message: 'zul-process serve answered nothing for 100 ms while a request waited; the session was ended',
  });
  assert.deepEqual(await client.sample([3], { timeoutMs: 60_000 }), [notFoundSample(3)]);
  assert.equal(starts().length, 2);
  const bad = [
    [null, TypeError], [1, TypeError], [{ timeoutMs: 0 }, RangeError], [{ timeoutMs: NaN }, RangeError],
    [{ timeoutMs: 2 ** 31 }, RangeError], [{ timeoutMs: '10' }, TypeError], [{ signal: {} }, TypeError],
    [{ signal: null }, TypeError],
  ];
  for (const [options, type] of bad) {
    await assert.rejects(client.inspect([4], options), type, JSON.stringify(options));
  }
});

// What Node's own APIs reject with for an aborted call.
const abortedBy = (reason) => (error) => {
  assert.ok(error instanceof DOMException, `${error}`);
  assert.equal(error.name, 'AbortError');
  assert.equal(error.cause, reason);
  return true;
};

test('a request given up through its signal', async (t) => {
  await t.test('already aborted: rejects, sends nothing, starts nothing', async (t) => {
    const { client, starts } = standInClient(t);
    const reason = new Error('not wanted');
    await assert.rejects(client.sample([1], { signal: AbortSignal.abort(reason) }), abortedBy(reason));
    assert.deepEqual(starts(), []);
  });
  await t.test('while it waits: it rejects at once, every other request gets its own answer', async (t) => {
    const { client, starts } = standInClient(t);
    await client.sample([1], patient);
    const settled = [];
    const note = (name, promise) => promise.then(
      (rows) => { settled.push(name); return rows; },
      (error) => { settled.push(name); throw error; });
    const given = new AbortController();
    const kept = new AbortController();
    // The first is answered 50 ms late, so the second is still queued when it is given up.
    const first = note('first', client.sample([cue.delay(50), 11]));
    const second = note('second', client.inspect([12], { signal: given.signal }));
    const third = note('third', client.sample([13], { signal: kept.signal }));
    const reason = new Error('gave up');
    given.abort(reason);
    await assert.rejects(second, abortedBy(reason));
    assert.deepEqual(await first, [notFoundSample(11)]);
    assert.deepEqual(await third, [notFoundSample(13)]);
    assert.deepEqual(await client.inspect([14]), [{ pid: 14, status: 'not_found' }]);
    assert.deepEqual(settled, ['second', 'first', 'third']);
    assert.equal(starts().length, 1);
    for (const signal of [given.signal, kept.signal]) {
      assert.equal(getEventListeners(signal, 'abort').length, 0, 'no listener is left on a signal');
    }
  });
  await t.test('from a stuck child: the caller is free, the child is not ended for it', async (t) => {
    const { client, starts } = standInClient(t, { timeoutMs: Infinity });
    await client.sample([1]);
    await assert.rejects(client.sample([cue.hang], { signal: AbortSignal.timeout(50) }), (error) =>
      error.name === 'AbortError' && error.cause.name === 'TimeoutError');
    assert.ok(alive(starts()[0]));
  });
});

test('forgetAfterSeconds: how long the child keeps a reading, passed to it', async (t) => {
  const cases = [
    { options: {}, args: ['serve'],
      readings: [[0, null], [61_000, 50], [361_000, 50], [960_999, 50], [1_560_999, null]] },
    { options: { forgetAfterSeconds: 60 }, args: ['serve', '--forget-after=60'],
      readings: [[0, null], [59_999, 50], [119_999, null], [150_000, 50]] },
    { options: { forgetAfterSeconds: 86_400 }, args: ['serve', '--forget-after=86400'],
      readings: [[0, null], [86_399_000, 50]] },
  ];
  for (const c of cases) {
    await t.test(JSON.stringify(c.options), async (t) => {
      const clockFile = path.join(temporaryFolder(t), 'clock');
      fs.writeFileSync(clockFile, '0');
      const { client, args } = standInClient(t, c.options, { STAND_IN_CLOCK: clockFile });
      // The child's clock moves on by the test's hand: nobody waits a minute.
      for (const [clock, percent] of c.readings) {
        fs.writeFileSync(clockFile, String(clock));
        const [row] = await client.sample([42]);
        assert.equal(row.cpuPercent, percent, `at ${clock} ms`);
      }
      assert.deepEqual(args(), [c.args]);
    });
  }
});

test('a child killed mid-request: every pending request rejects, the next request starts another', async (t) => {
  const { client, starts } = standInClient(t);
  const pending = [client.sample([cue.hang]), client.inspect([3]), client.sample([4])];
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
  await assert.rejects(client.sample([cue.exit(101)]), {
    code: codes.EXITED,
    message: `zul-process serve (${standIn}) ended before answering: exit status 101: stand-in: exiting with 101`,
  });
  assert.deepEqual(await client.sample([2]), [notFoundSample(2)]);
  assert.equal(starts().length, 2);
});

test('an answer out of step ends the child; the next request starts another', async (t) => {
  await t.test('a line that is not JSON', async (t) => {
    const { client, starts } = standInClient(t);
    const garbled = client.sample([cue.garbage]);
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
    assert.deepEqual(await client.sample([1, cue.twice]), [notFoundSample(1)]);
    await eventually(() => !alive(starts()[0]), 'the child that answered twice ended');
    assert.deepEqual(await client.sample([4]), [notFoundSample(4)]);
    assert.equal(starts().length, 2);
  });
});

test('a long answer that arrives in pieces, cut inside characters, reads whole', async (t) => {
  const { client } = standInClient(t);
  const [row] = await client.inspect([cue.split]);
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
    [{ forgetAfterSeconds: 0 }, RangeError], [{ forgetAfterSeconds: 86_401 }, RangeError],
    [{ forgetAfterSeconds: 1.5 }, RangeError], [{ forgetAfterSeconds: NaN }, RangeError],
    [{ forgetAfterSeconds: -60 }, RangeError], [{ forgetAfterSeconds: '60' }, TypeError],
  ];
  for (const [options, type] of bad) {
    assert.throws(() => createClient(options), type, JSON.stringify(options));
  }
  const good = [{}, { timeoutMs: Infinity }, { timeoutMs: 2 ** 31 - 1 }, undefined,
    { forgetAfterSeconds: 1 }, { forgetAfterSeconds: 86_400 }];
  for (const options of good) {
    createClient(options).close();
  }
});

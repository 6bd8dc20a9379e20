'use strict';

// A client of `zul-process serve`: a call takes process IDs, sends one request line and
// resolves to the rows of the answer.

const path = require('node:path');
const { Session } = require('./lib/session');
const { ZulProcessError, codes, abortError } = require('./lib/errors');

const DEFAULT_TIMEOUT_MS = 10_000;
// setTimeout fires at once for delays beyond this.
const LONGEST_TIMER_MS = 2 ** 31 - 1;
// What `serve --forget-after=` takes: whole seconds up to a day.
const LONGEST_FORGET_SECONDS = 86_400;

function checkTimeout(timeoutMs, where) {
  if (typeof timeoutMs !== 'number') {
    throw new TypeError(`${where}: timeoutMs must be a number`);
  }
  if (!(timeoutMs > 0 && (timeoutMs <= LONGEST_TIMER_MS || timeoutMs === Infinity))) {
    throw new RangeError(
      `${where}: timeoutMs must be above 0 and at most ${LONGEST_TIMER_MS}, or Infinity`);
  }
}

function createClient(options = {}) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError('createClient: options must be an object');
  }
  const { binary, env = process.env, timeoutMs = DEFAULT_TIMEOUT_MS, forgetAfterSeconds } = options;
  if (binary !== undefined && (typeof binary !== 'string' || binary === '')) {
    throw new TypeError('createClient: binary must be a non-empty path');
  }
  if (env === null || typeof env !== 'object') {
    throw new TypeError('createClient: env must be an object');
  }
  checkTimeout(timeoutMs, 'createClient');
  const args = ['serve'];
  if (forgetAfterSeconds !== undefined) {
    if (typeof forgetAfterSeconds !== 'number') {
      throw new TypeError('createClient: forgetAfterSeconds must be a number');
    }
    if (!Number.isInteger(forgetAfterSeconds) || forgetAfterSeconds < 1 ||
        forgetAfterSeconds > LONGEST_FORGET_SECONDS) {
      throw new RangeError(
        `createClient: forgetAfterSeconds must be a whole number from 1 to ${LONGEST_FORGET_SECONDS}`);
    }
    args.push(`--forget-after=${forgetAfterSeconds}`);
  }
  // A relative path means the folder the client was made in, whatever the process does later.
  const session = new Session({ binary: binary && path.resolve(binary), env, args });
  const call = (command, member) => (pids, callOptions) =>
    ask(session, command, member, pids, callOptions, timeoutMs);
  return Object.freeze({
    sample: call('sample', 'samples'),
    inspect: call('inspect', 'processes'),
    close: () => session.close(),
  });
}

async function ask(session, command, member, pids, callOptions = {}, defaultTimeoutMs) {
  const where = `client.${command}`;
  if (callOptions === null || typeof callOptions !== 'object') {
    throw new TypeError(`${where}: options must be an object`);
  }
  const { signal, timeoutMs = defaultTimeoutMs } = callOptions;
  checkTimeout(timeoutMs, where);
  if (signal !== undefined && !isAbortSignal(signal)) {
    throw new TypeError(`${where}: signal must be an AbortSignal`);
  }
  const line = requestLine(command, pids);
  // Given up before it was asked: nothing is sent, no child is started.
  if (signal?.aborted) throw abortError(signal);
  const document = await session.ask(line, { timeoutMs, signal });
  const rows = document[member];
  if (!Array.isArray(rows)) {
    const text = JSON.stringify(document).slice(0, 200);
    throw new ZulProcessError(codes.PROTOCOL,
      `zul-process serve answered "${command}" without "${member}": ${text}`);
  }
  // The keyed view and the diagnostics ride along on the rows, out of the way of iteration,
  // equality and JSON.
  Object.defineProperty(rows, 'byPid', { value: new Map(rows.map((row) => [row.pid, row])) });
  if (document.diagnostics !== undefined) {
    Object.defineProperty(rows, 'diagnostics', { value: document.diagnostics });
  }
  return rows;
}

function isAbortSignal(signal) {
  return signal !== null && typeof signal === 'object' && typeof signal.aborted === 'boolean' &&
    typeof signal.addEventListener === 'function';
}

// The client refuses an ID list the tool would refuse, by the tool's rules and with its words,
// so that a bad list never reaches the session: each ID must be ASCII decimal digits (leading
// zeros allowed) with a value from 1 to 4294967295, and the list must not be empty. A repeated
// ID is fine: the tool answers it once.

const LARGEST_PID = 4294967295n;

// The tool's message for a word, checked in its order: digits first (so "99999999999x" is not
// decimal rather than out of range), then the range, then zero. Null for a good word.
function refusal(word) {
  if (!/^[0-9]+$/.test(word)) return 'process IDs must be positive decimal integers';
  if (BigInt(word) > LARGEST_PID) return 'process ID out of range';
  if (BigInt(word) === 0n) return 'process ID must be positive';
  return null;
}

function shown(pid) {
  return typeof pid === 'string' ? JSON.stringify(pid) : typeof pid === 'bigint' ? `${pid}n` : String(pid);
}

function requestLine(command, pids) {
  const iterable = pids !== null && typeof pids === 'object' && Symbol.iterator in pids;
  const list = iterable ? [...pids] : [pids];
  if (!list.length) {
    throw new ZulProcessError(codes.INVALID_PID, 'provide at least one process ID');
  }
  const words = list.map((pid) => {
    if (typeof pid !== 'number' && typeof pid !== 'bigint' && typeof pid !== 'string') {
      const type = pid === null ? 'null' : typeof pid;
      throw new ZulProcessError(codes.INVALID_PID,
        `process ID refused: a process ID must be a number, a bigint or a string, not ${type}`);
    }
    // A number as JavaScript writes it: 1.5, 1e+21 and NaN are not decimal digits, -0 is "0".
    const word = String(pid);
    const message = refusal(word);
    if (message) throw new ZulProcessError(codes.INVALID_PID, `process ID ${shown(pid)} refused: ${message}`);
    return word;
  });
  return [command, ...words].join(' ') + '\n';
}

// "createdAt" is a decimal count of 100-ns ticks since 1601-01-01 UTC (a Windows FILETIME). Its
// values pass 2^53, where a JavaScript number can no longer hold every integer, so the
// conversion is done on BigInt: the result is the exact tick count, floored to a millisecond.

const TICKS_PER_MS = 10_000n;
// The ticks from 1601-01-01 to 1970-01-01 UTC.
const UNIX_EPOCH_TICKS = 116_444_736_000_000_000n;
const LARGEST_TICKS = 2n ** 64n - 1n;

function ticksOf(createdAt) {
  let ticks;
  if (typeof createdAt === 'bigint') {
    ticks = createdAt;
  } else if (typeof createdAt === 'string' && /^[0-9]+$/.test(createdAt)) {
    ticks = BigInt(createdAt);
  } else {
    throw new TypeError(
      `createdAt must be a string of decimal digits or a bigint, not ${describe(createdAt)}`);
  }
  if (ticks < 0n || ticks > LARGEST_TICKS) {
    throw new RangeError(`createdAt ${createdAt} is not a 64-bit count of ticks`);
  }
  return ticks;
}

function describe(value) {
  if (typeof value === 'string') return JSON.stringify(value);
  return value === null ? 'null' : typeof value;
}

// Milliseconds since 1970-01-01 UTC, rounded down (also before 1970); a safe integer for every
// 64-bit tick count.
function createdAtMs(createdAt) {
  const since1970 = ticksOf(createdAt) - UNIX_EPOCH_TICKS;
  let ms = since1970 / TICKS_PER_MS;
  if (since1970 % TICKS_PER_MS < 0n) ms -= 1n;
  return Number(ms);
}

function createdAtDate(createdAt) {
  return new Date(createdAtMs(createdAt));
}

module.exports = { createClient, createdAtMs, createdAtDate, ZulProcessError, codes };

'use strict';

// A client of `zul-process serve`: a call takes process IDs, sends one request line and
// resolves to the rows of the answer.

const path = require('node:path');
const { Session } = require('./lib/session');
const { ZulProcessError, codes, abortError } = require('./lib/errors');
const { requestLine } = require('./lib/pids');
const { createdAtMs, createdAtDate } = require('./lib/created-at');

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

module.exports = { createClient, createdAtMs, createdAtDate, ZulProcessError, codes };

'use strict';

// A client of `zul-process serve`: a call takes process IDs, sends one request line and
// resolves to the rows of the answer.

const path = require('node:path');
const { Session } = require('./lib/session');
const { ZulProcessError, codes } = require('./lib/errors');

const DEFAULT_TIMEOUT_MS = 10_000;
// setTimeout fires at once for delays beyond this.
const LONGEST_TIMER_MS = 2 ** 31 - 1;

function createClient(options = {}) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError('createClient: options must be an object');
  }
  const { binary, env = process.env, timeoutMs = DEFAULT_TIMEOUT_MS } = options;
  if (binary !== undefined && (typeof binary !== 'string' || binary === '')) {
    throw new TypeError('createClient: binary must be a non-empty path');
  }
  if (env === null || typeof env !== 'object') {
    throw new TypeError('createClient: env must be an object');
  }
  if (typeof timeoutMs !== 'number') {
    throw new TypeError('createClient: timeoutMs must be a number');
  }
  if (!(timeoutMs > 0 && (timeoutMs <= LONGEST_TIMER_MS || timeoutMs === Infinity))) {
    throw new RangeError(
      `createClient: timeoutMs must be above 0 and at most ${LONGEST_TIMER_MS}, or Infinity`);
  }
  // A relative path means the folder the client was made in, whatever the process does later.
  const session = new Session({ binary: binary && path.resolve(binary), env, timeoutMs });
  return Object.freeze({
    sample: (pids) => ask(session, 'sample', 'samples', pids),
    inspect: (pids) => ask(session, 'inspect', 'processes', pids),
    close: () => session.close(),
  });
}

async function ask(session, command, member, pids) {
  const document = await session.ask(requestLine(command, pids));
  const rows = document[member];
  if (!Array.isArray(rows)) {
    const text = JSON.stringify(document).slice(0, 200);
    throw new ZulProcessError(codes.PROTOCOL,
      `zul-process serve answered "${command}" without "${member}": ${text}`);
  }
  // Diagnostics ride along on the rows, out of the way of iteration, equality and JSON.
  if (document.diagnostics !== undefined) {
    Object.defineProperty(rows, 'diagnostics', { value: document.diagnostics });
  }
  return rows;
}

// The tool judges every ID; the client only makes sure each one travels as one word of one
// line, so that no ID can split into two, vanish, or start a second request.
function requestLine(command, pids) {
  const iterable = pids !== null && typeof pids === 'object' && Symbol.iterator in pids;
  const list = iterable ? [...pids] : [pids];
  const words = list.map((pid) => {
    if (typeof pid !== 'number' && typeof pid !== 'bigint' && typeof pid !== 'string') {
      const type = pid === null ? 'null' : typeof pid;
      throw new ZulProcessError(codes.INVALID_PID,
        `a process ID must be a number, a bigint or a string, not ${type}`);
    }
    const word = String(pid);
    if (!/^[^\x00-\x20]+$/.test(word)) {
      throw new ZulProcessError(codes.INVALID_PID,
        `process ID ${JSON.stringify(word)} cannot be sent: it must be one word, not empty, ` +
        'without blanks or control characters');
    }
    return word;
  });
  return [command, ...words].join(' ') + '\n';
}

module.exports = { createClient, ZulProcessError, codes };

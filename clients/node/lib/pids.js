'use strict';

// The client refuses an ID list the tool would refuse, by the tool's rules and with its words,
// so that a bad list never reaches the session: each ID must be ASCII decimal digits (leading
// zeros allowed) with a value from 1 to 4294967295, and the list must not be empty. A repeated
// ID is fine: the tool answers it once.

const { ZulProcessError, codes } = require('./errors');

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

module.exports = { requestLine };

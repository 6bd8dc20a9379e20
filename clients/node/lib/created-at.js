'use strict';

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

module.exports = { createdAtMs, createdAtDate };

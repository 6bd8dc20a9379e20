'use strict';
// "createdAt" to milliseconds since 1970 and to a Date: exact for every 64-bit tick count, where
// a JavaScript number would round the ticks.

const test = require('node:test');
const assert = require('node:assert/strict');
const { createdAtMs, createdAtDate } = require('..');

test('createdAt to milliseconds since 1970 and to a Date', () => {
  const cases = [
    ['0', Date.UTC(1601, 0, 1)],
    ['116444736000000000', 0],
    ['132539328000000000', Date.UTC(2021, 0, 1)],
    // As a number these ticks round up to the next millisecond.
    ['134413816201709999', Date.parse('2026-12-10T13:07:00.170Z')],
    ['134413816201700000', Date.parse('2026-12-10T13:07:00.170Z')],
    // Rounded down before 1970 as after.
    ['116444735999999999', -1],
    ['116444735999990000', -1],
    ['116444735999989999', -2],
    ['000116444736000010000', 1],
    [116444736000010000n, 1],
    ['18446744073709551615', 1844674407370955 - 11644473600000],
  ];
  for (const [createdAt, ms] of cases) {
    assert.equal(createdAtMs(createdAt), ms, String(createdAt));
    assert.equal(createdAtDate(createdAt).getTime(), ms, String(createdAt));
  }
  const bad = [
    ['', TypeError], ['-1', TypeError], ['1.5', TypeError], [' 1', TypeError], ['1e18', TypeError],
    [1, TypeError], [null, TypeError], [undefined, TypeError],
    ['18446744073709551616', RangeError], [-1n, RangeError],
  ];
  for (const [createdAt, type] of bad) {
    assert.throws(() => createdAtMs(createdAt), type, String(createdAt));
    assert.throws(() => createdAtDate(createdAt), type, String(createdAt));
  }
});

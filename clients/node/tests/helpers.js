'use strict';
// What the client's tests share: the stand-in, temporary folders, children of this process, and
// waiting for a process to end.

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');

const standIn = path.join(__dirname, 'stand-in', 'zul-process');
// The IDs that make the stand-in misbehave (valid IDs, above any real process's).
const cue = Object.freeze({
  hang: '4294967001', garbage: '4294967002', twice: '4294967003', split: '4294967004',
  refuse: '4294967006', exit: (status) => String(4294960000 + status),
  delay: (ms) => String(4294950000 + ms),
});
const packageRoot = path.join(__dirname, '..');

function temporaryFolder(t) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zul-node-'));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  return folder;
}

// The process IDs of the stand-ins started with this file as STAND_IN_STARTS.
function starts(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map(Number);
}

// The arguments of each stand-in started with this file as STAND_IN_ARGS.
function startArgs(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line));
}

// The request lines a stand-in received, with this file as STAND_IN_LINES.
function receivedLines(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line));
}

// Running and not a zombie: an orphan's reaper may be slow, or absent in a container.
function alive(pid) {
  try {
    process.kill(pid, 0);
  } catch {
    return false;
  }
  try {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    return !/^[ZX]$/.test(stat.slice(stat.lastIndexOf(')') + 2, stat.lastIndexOf(')') + 3));
  } catch {
    return process.platform !== 'linux';
  }
}

// Polls until the condition holds; gives up after a long while only so that a fault fails the
// test instead of hanging the run.
async function eventually(condition, what) {
  for (let waited = 0; waited < 60_000; waited += 10) {
    if (await condition()) return;
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
  throw new Error(`never came true: ${what}`);
}

// The direct children of this process whose command is `name` (Linux), from /proc; not one that
// has ended and waits to be reaped.
function childrenNamed(name) {
  const found = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^[0-9]+$/.test(entry)) continue;
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
    } catch {
      continue;
    }
    const comm = stat.slice(stat.indexOf('(') + 1, stat.lastIndexOf(')'));
    const [state, parent] = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    if (Number(parent) === process.pid && comm === name && !/^[ZX]$/.test(state)) found.push(Number(entry));
  }
  return found;
}

// Runs a CommonJS script in a Node of its own and resolves to its status and output once it
// has exited by itself (killed after a long while, so that a hang fails instead of blocking).
function runNode(source, env = process.env) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, ['-e', source], { env, cwd: packageRoot });
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (d) => { stdout += d; });
    child.stderr.on('data', (d) => { stderr += d; });
    const guard = setTimeout(() => child.kill('SIGKILL'), 60_000);
    child.on('error', reject);
    child.on('close', (status, signal) => {
      clearTimeout(guard);
      resolve({ status, signal, stdout, stderr });
    });
  });
}

module.exports = {
  standIn, cue, startArgs, packageRoot, temporaryFolder, starts, receivedLines, alive, eventually, childrenNamed,
  runNode,
};

'use strict';

// One `zul-process serve` child at a time: started by the first request, sent one line per
// request, read one line per answer, in order. Answers are matched to requests only by their
// order, so anything that could put the two out of step (a timeout, a line that is not an answer)
// ends the child, and every request still waiting on it is rejected; the next request starts a
// new child.

const { spawn } = require('node:child_process');
const { findBinary } = require('./binary');
const { ZulProcessError, codes } = require('./errors');

// The children alive in this Node process. A child also ends by itself when its standard input
// closes, which happens when Node exits; a child stuck in a request would not read that end, so
// it is killed on the way out as well.
const liveChildren = new Set();
let exitHookInstalled = false;

function killLiveChildren() {
  for (const child of liveChildren) child.kill('SIGKILL');
}

function watch(child) {
  if (!exitHookInstalled) {
    process.on('exit', killLiveChildren);
    exitHookInstalled = true;
  }
  liveChildren.add(child);
}

// What a failed session's stderr said, to put in the error; the end of it is what matters.
const STDERR_KEPT = 4096;

class Session {
  constructor({ binary, env, timeoutMs }) {
    this.binary = binary;
    this.env = env;
    this.timeoutMs = timeoutMs;
    this.connection = null;
    this.closing = null;
  }

  // Resolves to the answer's document (an object that is not an error answer).
  ask(line) {
    if (this.closing) {
      return Promise.reject(new ZulProcessError(codes.CLOSED, 'the zul-process client is closed'));
    }
    if (!this.connection || this.connection.ended) {
      let file;
      try {
        file = findBinary({ binary: this.binary, env: this.env });
      } catch (error) {
        return Promise.reject(error);
      }
      this.connection = new Connection(file, this.env, this.timeoutMs);
    }
    return this.connection.send(line);
  }

  // Ends the child's input: it answers what it was sent, then exits. Resolves once it has.
  close() {
    if (!this.closing) {
      const connection = this.connection;
      this.connection = null;
      this.closing = connection ? connection.finish() : Promise.resolve();
    }
    return this.closing;
  }
}

class Connection {
  constructor(file, env, timeoutMs) {
    this.timeoutMs = timeoutMs;
    this.pending = [];
    this.ended = false;
    this.finishing = false;
    this.partialLine = [];
    this.stderrTail = '';
    this.exited = new Promise((resolve) => { this.markExited = resolve; });

    const child = spawn(file, ['serve'], { env, stdio: 'pipe', windowsHide: true });
    this.child = child;
    watch(child);
    child.stdout.setEncoding('utf8');
    child.stderr.setEncoding('utf8');
    child.stdout.on('data', (chunk) => this.read(chunk));
    child.stderr.on('data', (chunk) => {
      this.stderrTail = (this.stderrTail + chunk).slice(-STDERR_KEPT);
    });
    // A write to a child that has died fails here; its exit, which follows, says why.
    child.stdin.on('error', () => {});
    child.on('error', (error) => {
      const started = child.pid !== undefined;
      this.end(() => new ZulProcessError(started ? codes.EXITED : codes.SPAWN,
        `zul-process serve (${file}) ${started ? 'failed' : 'could not be started'}: ` +
        error.message, { cause: error }));
    });
    child.on('close', (status, signal) => {
      liveChildren.delete(child);
      const how = this.describeExit(status, signal);
      this.end(() => new ZulProcessError(codes.EXITED,
        `zul-process serve (${file}) ended before answering: ${how}`));
      this.markExited();
    });
    this.holdEventLoop(false);
  }

  send(line) {
    return new Promise((resolve, reject) => {
      const request = { resolve, reject, timer: null };
      if (Number.isFinite(this.timeoutMs)) {
        request.timer = setTimeout(() => this.timeOut(request), this.timeoutMs);
      }
      this.pending.push(request);
      this.holdEventLoop(true);
      this.child.stdin.write(line);
    });
  }

  // Answers arrive in pieces of any size; a line is an answer once its line feed has come.
  read(chunk) {
    let start = 0;
    let end;
    while (!this.ended && (end = chunk.indexOf('\n', start)) !== -1) {
      this.partialLine.push(chunk.slice(start, end));
      const line = this.partialLine.join('');
      this.partialLine = [];
      start = end + 1;
      this.answer(line);
    }
    if (!this.ended && start < chunk.length) this.partialLine.push(chunk.slice(start));
  }

  answer(line) {
    const request = this.pending.shift();
    if (!request) {
      this.outOfStep(`an answer to no request: ${excerpt(line)}`);
      return;
    }
    clearTimeout(request.timer);
    let document;
    try {
      document = JSON.parse(line);
    } catch {
      document = undefined;
    }
    if (document === null || typeof document !== 'object' || Array.isArray(document)) {
      request.reject(new ZulProcessError(codes.PROTOCOL,
        `zul-process serve answered with a line that is not a JSON object: ${excerpt(line)}`));
      this.outOfStep('it answered with a line that is not a JSON object');
      return;
    }
    if (!this.pending.length) this.holdEventLoop(false);
    if (typeof document.error === 'string') {
      request.reject(new ZulProcessError(codes.REFUSED, document.error));
    } else {
      request.resolve(document);
    }
  }

  timeOut(request) {
    const index = this.pending.indexOf(request);
    this.pending.splice(index, 1);
    request.reject(new ZulProcessError(codes.TIMEOUT,
      `zul-process serve gave no answer within ${this.timeoutMs} ms; the session was ended`));
    this.end(() => new ZulProcessError(codes.EXITED,
      'zul-process serve was ended when an earlier request timed out'));
  }

  outOfStep(reason) {
    this.end(() => new ZulProcessError(codes.PROTOCOL,
      `zul-process serve was ended because ${reason}`));
  }

  // The child is done with: every request still waiting is rejected with an error made by
  // errorFor, and a child still running is killed. Only the first call counts.
  end(errorFor) {
    if (this.ended) return;
    this.ended = true;
    const waiting = this.pending;
    this.pending = [];
    for (const request of waiting) {
      clearTimeout(request.timer);
      request.reject(errorFor());
    }
    if (this.child.exitCode === null && this.child.signalCode === null) this.child.kill('SIGKILL');
    this.holdEventLoop(false);
  }

  // The end of input: the child answers what it was sent and exits.
  finish() {
    this.finishing = true;
    this.holdEventLoop(true);
    this.child.stdin.end();
    return this.exited;
  }

  // While a request waits (or the client is closing), the child and its pipes keep Node's event
  // loop alive; an idle client lets Node exit.
  holdEventLoop(hold) {
    const method = hold || this.finishing ? 'ref' : 'unref';
    const child = this.child;
    child[method]();
    for (const stream of [child.stdin, child.stdout, child.stderr]) {
      if (typeof stream[method] === 'function') stream[method]();
    }
  }

  describeExit(status, signal) {
    const how = signal ? `killed by ${signal}` : `exit status ${status}`;
    const said = this.stderrTail.trim();
    return said ? `${how}: ${said}` : how;
  }
}

function excerpt(line) {
  return JSON.stringify(line.length > 200 ? `${line.slice(0, 200)}...` : line);
}

module.exports = { Session };

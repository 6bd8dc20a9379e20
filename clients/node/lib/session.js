'use strict';

// One `zul-process serve` child at a time: started by the first request, sent one line per
// request, read one line per answer, in order. Answers are matched to requests only by their
// order, so anything that could put the two out of step (a line that is not an answer) ends the
// child, and every request still waiting on it is rejected; the next request starts a new child.
// A new child knows no earlier readings, so it is ended only when it must be: when it dies, goes
// out of step, or is stuck (see the watch below). A request given up by its caller (its signal)
// stays in the queue, unseen, until its answer comes and is dropped.

const { spawn } = require('node:child_process');
const { performance } = require('node:perf_hooks');
const { findBinary } = require('./binary');
const { ZulProcessError, codes, abortError } = require('./errors');

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
  constructor({ binary, env, args }) {
    this.binary = binary;
    this.env = env;
    this.args = args;
    this.connection = null;
    this.closing = null;
  }

  // Resolves to the answer's document (an object that is not an error answer). `timeoutMs` is
  // this request's patience with a silent child; `signal`, if given, is not aborted yet.
  ask(line, { timeoutMs, signal }) {
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
      this.connection = new Connection(file, this.args, this.env);
    }
    return this.connection.send(line, timeoutMs, signal);
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
  constructor(file, args, env) {
    // Every request sent and not yet answered, in order, the dropped ones included.
    this.pending = [];
    // Of those, the ones a caller still waits for.
    this.waiting = 0;
    // When the child last wrote anything to its standard output (performance.now()).
    this.lastHeard = -Infinity;
    this.timer = null;
    this.timerAt = Infinity;
    this.ended = false;
    this.finishing = false;
    this.partialLine = [];
    this.stderrTail = '';
    this.exited = new Promise((resolve) => { this.markExited = resolve; });

    const child = spawn(file, args, { env, stdio: 'pipe', windowsHide: true });
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
    this.holdEventLoop();
  }

  send(line, timeoutMs, signal) {
    return new Promise((resolve, reject) => {
      const request = {
        resolve, reject, timeoutMs, sentAt: performance.now(), settled: false, dropped: false, signal,
        onAbort: null,
      };
      if (signal) {
        request.onAbort = () => this.drop(request);
        signal.addEventListener('abort', request.onAbort, { once: true });
      }
      this.pending.push(request);
      this.waiting++;
      this.holdEventLoop();
      this.child.stdin.write(line);
      this.watchFor(request.sentAt + timeoutMs);
    });
  }

  // The child is stuck when it has written nothing for a waiting request's timeoutMs, counted
  // from the later of that request's sending and the child's last output. So a request queued
  // behind many others waits as long as the child keeps answering them, and the time Node spends
  // elsewhere counts only until the child's output is read: one timer, looked at lazily.
  watchFor(deadline) {
    if (deadline >= this.timerAt || this.ended) return;
    clearTimeout(this.timer);
    this.timerAt = deadline;
    const delay = Math.max(1, Math.ceil(deadline - performance.now()));
    this.timer = setTimeout(() => {
      this.timer = null;
      this.timerAt = Infinity;
      // A timer that fires late (Node was busy) fires before the output that came meanwhile is
      // read: judge only after the next look at the pipes, which setImmediate waits for.
      setImmediate(() => this.judge());
    }, delay);
    // Only a waiting request holds Node, through the child's pipes; the timer never does.
    this.timer.unref();
  }

  judge() {
    if (this.ended) return;
    let first = null;
    let firstDeadline = Infinity;
    for (const request of this.pending) {
      if (request.dropped) continue;
      const deadline = Math.max(this.lastHeard, request.sentAt) + request.timeoutMs;
      if (deadline < firstDeadline) {
        first = request;
        firstDeadline = deadline;
      }
    }
    if (!first) return;
    if (firstDeadline <= performance.now()) this.timeOut(first);
    else this.watchFor(firstDeadline);
  }

  // Answers arrive in pieces of any size; a line is an answer once its line feed has come.
  read(chunk) {
    this.lastHeard = performance.now();
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
    let document;
    try {
      document = JSON.parse(line);
    } catch {
      document = undefined;
    }
    const valid = document !== null && typeof document === 'object' && !Array.isArray(document);
    if (request.dropped) {
      if (!valid) this.outOfStep('it answered with a line that is not a JSON object');
      return;
    }
    this.settle(request);
    if (!valid) {
      request.reject(new ZulProcessError(codes.PROTOCOL,
        `zul-process serve answered with a line that is not a JSON object: ${excerpt(line)}`));
      this.outOfStep('it answered with a line that is not a JSON object');
      return;
    }
    if (typeof document.error === 'string') {
      request.reject(new ZulProcessError(codes.REFUSED, document.error));
    } else {
      request.resolve(document);
    }
  }

  // A request no longer waited for: its caller has its answer, its error, or gave up.
  settle(request) {
    request.settled = true;
    this.waiting--;
    if (request.onAbort) request.signal.removeEventListener('abort', request.onAbort);
    if (!this.waiting) {
      clearTimeout(this.timer);
      this.timer = null;
      this.timerAt = Infinity;
    }
    this.holdEventLoop();
  }

  // The caller gave up: the request rejects now, and its answer will be read and dropped so
  // that the ones behind it still get theirs.
  drop(request) {
    if (request.settled) return;
    request.dropped = true;
    this.settle(request);
    request.reject(abortError(request.signal));
  }

  timeOut(request) {
    this.pending.splice(this.pending.indexOf(request), 1);
    this.settle(request);
    request.reject(new ZulProcessError(codes.TIMEOUT,
      `zul-process serve answered nothing for ${request.timeoutMs} ms while a request waited; ` +
      'the session was ended'));
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
    clearTimeout(this.timer);
    const pending = this.pending;
    this.pending = [];
    for (const request of pending) {
      if (request.dropped) continue;
      this.settle(request);
      request.reject(errorFor());
    }
    if (this.child.exitCode === null && this.child.signalCode === null) this.child.kill('SIGKILL');
    this.holdEventLoop();
  }

  // The end of input: the child answers what it was sent and exits.
  finish() {
    this.finishing = true;
    this.holdEventLoop();
    this.child.stdin.end();
    return this.exited;
  }

  // While a request waits (or the client is closing), the child and its pipes keep Node's event
  // loop alive; an idle client lets Node exit, and so does one whose requests were all given up.
  holdEventLoop() {
    const method = (this.waiting > 0 && !this.ended) || this.finishing ? 'ref' : 'unref';
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

'use strict';

// Every failure the client reports is a ZulProcessError; its code says which kind, so callers
// can tell a refused request (the tool's own message) from a session that broke.
class ZulProcessError extends Error {
  constructor(code, message, options) {
    super(message, options);
    this.name = 'ZulProcessError';
    this.code = code;
  }
}

const codes = Object.freeze({
  // The tool refused the request; the message is the tool's, word for word.
  REFUSED: 'ERR_ZUL_PROCESS_REFUSED',
  // No binary where the client looked; the message lists the places.
  NOT_FOUND: 'ERR_ZUL_PROCESS_NOT_FOUND',
  // The binary could not be started.
  SPAWN: 'ERR_ZUL_PROCESS_SPAWN',
  // No answer within the timeout; the session was ended so that answers stay in step.
  TIMEOUT: 'ERR_ZUL_PROCESS_TIMEOUT',
  // The session ended (killed, crashed, or ended for another request's timeout) before answering.
  EXITED: 'ERR_ZUL_PROCESS_EXITED',
  // An answer that is not the one line of JSON the protocol promises.
  PROTOCOL: 'ERR_ZUL_PROCESS_PROTOCOL',
  // A process ID the tool would refuse (or none at all): the request is not sent.
  INVALID_PID: 'ERR_ZUL_PROCESS_INVALID_PID',
  // The client was closed.
  CLOSED: 'ERR_ZUL_PROCESS_CLOSED',
});

// A request its caller gave up through its signal rejects as Node's own APIs do, with an error
// named AbortError; the signal's reason is its cause.
function abortError(signal) {
  const error = new DOMException('This operation was aborted', 'AbortError');
  if (signal.reason !== undefined) {
    Object.defineProperty(error, 'cause', {
      value: signal.reason, writable: true, enumerable: false, configurable: true,
    });
  }
  return error;
}

module.exports = { ZulProcessError, codes, abortError };

// Declarations for the ES module entry (index.mjs): the named exports of the CommonJS entry, and
// all of them together as the default export.
import * as client from './index.js';

export * from './index.js';
export default client;

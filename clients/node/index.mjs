// The ES module entry: the same functions and error class as the CommonJS one, so an error
// thrown under either entry is an instance of the one ZulProcessError.
import client from './index.js';

export const { createClient, createdAtMs, createdAtDate, ZulProcessError, codes } = client;
export default client;

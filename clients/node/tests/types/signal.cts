// An AbortSignal as a caller has it (here the DOM's type; Node's is the same shape) fits a call.
import zul = require('zul-process');

async function withSignal(): Promise<void> {
  const client = zul.createClient();
  const controller = new AbortController();
  await client.sample([1], { signal: controller.signal });
  await client.inspect(1, { signal: controller.signal, timeoutMs: 50 });
}

export { withSignal };

// The declarations as a CommonJS caller meets them: what compiles, and what must not.
import zul = require('zul-process');

async function monitor(): Promise<void> {
  const client: zul.Client = zul.createClient({ binary: '/usr/bin/zul-process', timeoutMs: 5000 });
  const samples = await client.sample([1, 2n, '3']);
  for (const row of samples) {
    if (row.status === 'found') {
      const total: number = row.cpuUserMs + row.cpuSystemMs + row.rssBytes + row.peak.rssBytes;
      const percent: number | null = row.cpuPercent;
      void total, percent;
    } else if (row.status === 'error') {
      const code: zul.SampleErrorCode = row.code;
      // @ts-expect-error: a sample row never carries an inspect code
      const path: typeof row.code = 'PROCESS_PATH';
      void code, path;
    }
    // @ts-expect-error: memory is null unless the process was found
    const rss: number = row.rssBytes;
    void rss;
  }
  const functions = samples.diagnostics?.functions.map((f) => f.name);
  const unavailable: 'WIN32_RESOURCE_QUERY_FAILED' | null | undefined = samples.diagnostics?.resources.unavailable;
  void functions, unavailable;
  const mine: zul.SampleRow | undefined = samples.byPid.get(1);
  // @ts-expect-error: the keys are the rows' numeric "pid"
  samples.byPid.get('1');
  // @ts-expect-error: the keyed view is read-only
  samples.byPid.set(1, samples[0]);
  void mine;
  const processes = await client.inspect(new Set([4]));
  const first = processes[0];
  if (first.status === 'found') {
    const text: string = first.commandLine + first.executablePath + first.createdAt;
    const started: Date = zul.createdAtDate(first.createdAt);
    const ms: number = zul.createdAtMs(BigInt(first.createdAt));
    void text, started, ms;
  } else if (first.status === 'error') {
    const code: zul.InspectErrorCode = first.code;
    // @ts-expect-error: no such code
    const other: typeof first.code = 'PROCESS_MEMORY';
    void code, other;
  }
  // @ts-expect-error: createdAt is not a number
  zul.createdAtDate(1);
  // @ts-expect-error: an inspect row has no CPU times
  void first.cpuUserMs;
  await client.inspect(5);
  await client.inspect(5, { timeoutMs: 100 });
  // @ts-expect-error: a signal is an AbortSignal
  await client.inspect(5, { signal: true });
  zul.createClient({ forgetAfterSeconds: 300 });
  // @ts-expect-error: seconds are a number
  zul.createClient({ forgetAfterSeconds: '300' });
  // @ts-expect-error: the timeout is a number
  zul.createClient({ timeoutMs: '5' });
  // @ts-expect-error: a process ID is not an object
  await client.sample([{ pid: 1 }]);
  await client.close();
}

function kind(error: unknown): string {
  if (error instanceof zul.ZulProcessError && error.code === zul.codes.TIMEOUT) return 'timeout';
  // @ts-expect-error: no such code
  if (error instanceof zul.ZulProcessError && error.code === 'ERR_SOMETHING_ELSE') return '';
  return 'other';
}

export { monitor, kind };

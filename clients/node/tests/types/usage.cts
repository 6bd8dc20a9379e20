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
      const code: string = row.code;
      void code;
    }
    // @ts-expect-error: memory is null unless the process was found
    const rss: number = row.rssBytes;
    void rss;
  }
  const functions = samples.diagnostics?.functions.map((f) => f.name);
  void functions;
  const processes = await client.inspect(new Set([4]));
  const first = processes[0];
  if (first.status === 'found') {
    const text: string = first.commandLine + first.executablePath + first.createdAt;
    void text;
  }
  // @ts-expect-error: an inspect row has no CPU times
  void first.cpuUserMs;
  await client.inspect(5);
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

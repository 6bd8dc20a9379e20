// Declarations for the CommonJS entry (index.js); index.d.mts gives the same to the ES module one.

/** A process ID as the tool reads it: decimal digits, from 1 to 4294967295. Anything else is
 * sent as it is and refused by the tool with its own message. */
export type Pid = number | bigint | string;

export interface ClientOptions {
  /** Path of the zul-process binary; else ZUL_PROCESS_BINARY, else the folders of PATH. */
  binary?: string;
  /** Environment of the child (and of the search for it); process.env by default. Set
   * ZUL_DIAGNOSTICS_ENABLED to "1" here to get each answer's diagnostics. */
  env?: Record<string, string | undefined>;
  /** How long a request may wait for its answer, in milliseconds; 10000 by default. */
  timeoutMs?: number;
}

export interface Peak {
  rssBytes: number;
  source: 'system';
  windowMs: number;
}

export interface FoundSample {
  pid: number;
  status: 'found';
  /** User CPU time since the process started, milliseconds. */
  cpuUserMs: number;
  /** Kernel CPU time since the process started, milliseconds. */
  cpuSystemMs: number;
  /** CPU use since this client's session last read the same process (100 = one processor
   * busy); null on its first reading. */
  cpuPercent: number | null;
  rssBytes: number;
  systemPeakBytes: number;
  peak: Peak;
  unavailable: null;
}

export interface NotFoundSample {
  pid: number;
  status: 'not_found';
  cpuUserMs: null;
  cpuSystemMs: null;
  cpuPercent: null;
  rssBytes: null;
  systemPeakBytes: null;
  peak: null;
  unavailable: 'PROCESS_NOT_FOUND';
}

export interface ErrorSample {
  pid: number;
  status: 'error';
  code: string;
  cpuUserMs: null;
  cpuSystemMs: null;
  cpuPercent: null;
  rssBytes: null;
  systemPeakBytes: null;
  peak: null;
  unavailable: string;
}

export type SampleRow = FoundSample | NotFoundSample | ErrorSample;

export interface FoundProcess {
  pid: number;
  status: 'found';
  commandLine: string;
  /** Creation time: decimal 100-ns ticks since 1601-01-01 UTC (a Windows FILETIME). */
  createdAt: string;
  executablePath: string;
}

export interface NotFoundProcess {
  pid: number;
  status: 'not_found';
}

export interface ErrorProcess {
  pid: number;
  status: 'error';
  code: string;
}

export type InspectRow = FoundProcess | NotFoundProcess | ErrorProcess;

export interface DiagnosticsFunction {
  calls: number;
  kind: string;
  maxMs: number;
  name: string;
  totalMs: number;
}

export interface Diagnostics {
  functions: DiagnosticsFunction[];
  resources: { [key: string]: unknown };
}

/** The rows of one answer, in the order of the IDs asked (a repeated ID once). With
 * ZUL_DIAGNOSTICS_ENABLED on in the child's environment, the answer's diagnostics are here too
 * (a property that iteration, equality and JSON.stringify pass over). */
export type Rows<Row> = Row[] & { readonly diagnostics?: Diagnostics };

export interface Client {
  /** CPU times and memory of each process. */
  sample(pids: Pid | Iterable<Pid>): Promise<Rows<SampleRow>>;
  /** Creation time, executable path and command line of each process. */
  inspect(pids: Pid | Iterable<Pid>): Promise<Rows<InspectRow>>;
  /** Ends the child's input; resolves once it has answered what it was sent and exited. Later
   * requests reject with ERR_ZUL_PROCESS_CLOSED. */
  close(): Promise<void>;
}

/** One zul-process serve child per client, started by the first request. */
export declare function createClient(options?: ClientOptions): Client;

export declare const codes: {
  readonly REFUSED: 'ERR_ZUL_PROCESS_REFUSED';
  readonly NOT_FOUND: 'ERR_ZUL_PROCESS_NOT_FOUND';
  readonly SPAWN: 'ERR_ZUL_PROCESS_SPAWN';
  readonly TIMEOUT: 'ERR_ZUL_PROCESS_TIMEOUT';
  readonly EXITED: 'ERR_ZUL_PROCESS_EXITED';
  readonly PROTOCOL: 'ERR_ZUL_PROCESS_PROTOCOL';
  readonly INVALID_PID: 'ERR_ZUL_PROCESS_INVALID_PID';
  readonly CLOSED: 'ERR_ZUL_PROCESS_CLOSED';
};

export type ErrorCode = (typeof codes)[keyof typeof codes];

export declare class ZulProcessError extends Error {
  constructor(code: ErrorCode, message: string, options?: { cause?: unknown });
  readonly name: 'ZulProcessError';
  readonly code: ErrorCode;
}

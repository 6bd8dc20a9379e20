// Declarations for the CommonJS entry (index.js); index.d.mts gives the same to the ES module one.

/** A process ID as the tool reads it: ASCII decimal digits (leading zeros allowed), from 1 to
 * 4294967295. A list with anything else, or an empty list, rejects with
 * ERR_ZUL_PROCESS_INVALID_PID before it is sent. */
export type Pid = number | bigint | string;

export interface ClientOptions {
  /** Path of the zul-process binary; else ZUL_PROCESS_BINARY, else the folders of PATH. */
  binary?: string;
  /** Environment of the child (and of the search for it); process.env by default. Set
   * ZUL_DIAGNOSTICS_ENABLED to "1" here to get each answer's diagnostics. */
  env?: Record<string, string | undefined>;
  /** How long the child may answer nothing while a request waits for it, in milliseconds,
   * counted from the later of the request's sending and the child's last output; then the
   * child is held stuck and ended. 10000 by default; Infinity: never. */
  timeoutMs?: number;
  /** How long the child keeps a process's reading for a percentage, in whole seconds from 1 to
   * 86400 (`serve --forget-after=`); the tool's default (600) when not given. */
  forgetAfterSeconds?: number;
}

/** What the client needs of an AbortSignal, so that these declarations ask for neither the DOM's
 * types nor Node's: either one's AbortSignal fits. */
export interface AbortSignalLike {
  readonly aborted: boolean;
  readonly reason?: unknown;
  addEventListener(type: 'abort', listener: () => void, options?: { once?: boolean }): void;
  removeEventListener(type: 'abort', listener: () => void): void;
}

export interface CallOptions {
  /** This request's timeoutMs, instead of the client's. */
  timeoutMs?: number;
  /** Aborting it rejects the request with an AbortError (its cause the signal's reason); the
   * other requests go on. */
  signal?: AbortSignalLike;
}

/** The codes of a sample row with status "error". */
export type SampleErrorCode = 'OPEN_PROCESS' | 'PROCESS_STATE' | 'PROCESS_TIMES' | 'PROCESS_MEMORY';

/** The codes of an inspect row with status "error". */
export type InspectErrorCode =
  | 'OPEN_PROCESS' | 'PROCESS_STATE' | 'PROCESS_TIMES' | 'PROCESS_PATH' | 'PROCESS_CHANGED'
  | 'COM_INIT' | 'WMI_LOCATOR' | 'WMI_CONNECT' | 'WMI_PROXY' | 'WMI_QUERY' | 'WMI_ENUMERATION'
  | 'WMI_PID' | 'WMI_PID_TYPE' | 'WMI_PROPERTY' | 'WMI_PROPERTY_TYPE' | 'WMI_DUPLICATE'
  | 'WMI_MISSING' | 'WMI_COMMAND_LINE';

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
  /** CPU use since this client's child last read the same process (100 = one processor
   * busy); null on its first reading, after forgetAfterSeconds without one, and on the first
   * reading by a new child (after a timeout or a crash). */
  cpuPercent: number | null;
  /** The current working set; on Linux the kernel's VmRSS, exact (more than pidusage's figure,
   * which is stat's approximate page count times the page size). */
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
  code: SampleErrorCode;
  cpuUserMs: null;
  cpuSystemMs: null;
  cpuPercent: null;
  rssBytes: null;
  systemPeakBytes: null;
  peak: null;
  unavailable: SampleErrorCode;
}

export type SampleRow = FoundSample | NotFoundSample | ErrorSample;

export interface FoundProcess {
  pid: number;
  status: 'found';
  commandLine: string;
  /** Creation time: decimal 100-ns ticks since 1601-01-01 UTC (a Windows FILETIME); see
   * createdAtDate and createdAtMs. */
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
  code: InspectErrorCode;
}

export type InspectRow = FoundProcess | NotFoundProcess | ErrorProcess;

export interface DiagnosticsFunction {
  calls: number;
  kind: string;
  maxMs: number;
  name: string;
  totalMs: number;
}

/** The tool's own CPU time and memory; null where they could not be read, with "unavailable"
 * saying so. */
export interface DiagnosticsResources {
  schema: 1;
  source: 'native';
  windowMs: number;
  cpuUserMs: number | null;
  cpuSystemMs: number | null;
  cpuPercent: null;
  rssBytes: number | null;
  heapUsedBytes: null;
  peak: Peak | null;
  unavailable: 'WIN32_RESOURCE_QUERY_FAILED' | null;
}

export interface Diagnostics {
  functions: DiagnosticsFunction[];
  resources: DiagnosticsResources;
}

/** The rows of one answer: one per distinct ID, in the order each ID first came ([me, me, 1]
 * gives two rows; '007' comes back as pid 7), so rows[i] need not be the row of pids[i]. `byPid`
 * holds the same rows by their "pid". With ZUL_DIAGNOSTICS_ENABLED on in the child's
 * environment, the answer's diagnostics are here too. Both are properties that iteration,
 * equality and JSON.stringify pass over. */
export type Rows<Row extends { pid: number }> = Row[] & {
  readonly byPid: ReadonlyMap<number, Row>;
  readonly diagnostics?: Diagnostics;
};

export interface Client {
  /** CPU times and memory of each process. */
  sample(pids: Pid | Iterable<Pid>, options?: CallOptions): Promise<Rows<SampleRow>>;
  /** Creation time, executable path and command line of each process. */
  inspect(pids: Pid | Iterable<Pid>, options?: CallOptions): Promise<Rows<InspectRow>>;
  /** Ends the child's input; resolves once it has answered what it was sent and exited. Later
   * requests reject with ERR_ZUL_PROCESS_CLOSED. */
  close(): Promise<void>;
}

/** One zul-process serve child per client, started by the first request. */
export declare function createClient(options?: ClientOptions): Client;

/** "createdAt" (100-ns ticks since 1601-01-01 UTC, as a string of digits or a bigint) as whole
 * milliseconds since 1970-01-01 UTC, rounded down; computed exactly. */
export declare function createdAtMs(createdAt: string | bigint): number;

/** "createdAt" as a Date (its milliseconds are createdAtMs's). */
export declare function createdAtDate(createdAt: string | bigint): Date;

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

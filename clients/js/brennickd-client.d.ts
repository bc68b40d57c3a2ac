// Types of brennickd-client.js.

/** brennickd's answer to one operation. */
export interface Answer {
  key: string;
  state: "approved" | "declined" | "not-started" | "unknown" | "running";
  exit: number | null;
  outcome: string | null;
  rc: string | null;
  text: string | null;
  rrn: string | null;
  auth_code: string | null;
  amount: number | null;
  currency: number | null;
  card: string | null;
  card_type: string | null;
  slip: string | null;
  library_fault: boolean;
  operation: string | number;
  lane: string | null;
  trace_id: string | null;
  run: string | null;
  started: string;
  terminal_date?: string | null;
  terminal_time?: string | null;
  /** Present while unknown: what settles it. */
  resolve?: string;
  /** The last operation that settled an unknown answer. */
  resolved_by?: { key: string; run: string };
}

export interface Payment {
  /** Minor units, as the terminal takes them. */
  amount: number;
  /** ISO 4217 number, e.g. 978. */
  currency?: number;
  /** The register's own reference of the sale: unique per sale. */
  traceId?: string;
  lane?: string;
}

export interface Progress {
  state: "running";
  key: string;
  elapsedMs: number;
}

export interface ClientOptions {
  /** Default http://127.0.0.1:8439. */
  service?: string;
  /** Where the token and the pending payment are kept; default localStorage. */
  storage?: Pick<Storage, "getItem" | "setItem" | "removeItem">;
  onProgress?: (progress: Progress) => void;
  pollMs?: number;
  /** Tries of a request whose fetch failed, with the same key. */
  retries?: number;
}

export type ErrorKind = "busy" | "not-paired" | "refused" | "permission" | "unreachable" | "pending";

export class BrennickdError extends Error {
  constructor(kind: ErrorKind, message: string,
              details?: { status?: number; heldBy?: string; since?: string; body?: any });
  kind: ErrorKind;
  status?: number;
  /** busy: the key that holds the lane, where this token may see it. */
  heldBy?: string;
  since?: string;
  body?: any;
}

export class BrennickdClient {
  constructor(options?: ClientOptions);
  readonly paired: boolean;
  readonly pending: { key: string; body: object } | null;
  pair(code: string): Promise<void>;
  pay(payment: Payment): Promise<Answer>;
  resume(): Promise<Answer | null>;
  recover(lane?: string): Promise<Answer>;
}

// brennickd-client: a browser register pays through brennickd in a few lines.
// It keeps what every register must keep: the page's token, and each
// payment's idempotency key with its request from before the request leaves
// until a final answer, so that a lost connection, a reload or a revoked
// token never charges a sale twice; and it settles an "unknown" payment by
// asking the terminal for its last operation. No dependencies, no build.

/** @typedef {import("./brennickd-client").Answer} Answer */
/** @typedef {import("./brennickd-client").Payment} Payment */
/** @typedef {import("./brennickd-client").ClientOptions} ClientOptions */
/** @typedef {import("./brennickd-client").ErrorKind} ErrorKind */

const FINAL = ["approved", "declined", "not-started"];

/** What went wrong, for the cashier's screen: kind tells what to do. */
export class BrennickdError extends Error {
  /**
   * @param {ErrorKind} kind
   * @param {string} message
   * @param {{status?: number, heldBy?: string, since?: string, body?: any}} [details]
   */
  constructor(kind, message, details = {}) {
    super(message);
    this.name = "BrennickdError";
    this.kind = kind;
    this.status = details.status;
    this.heldBy = details.heldBy;
    this.since = details.since;
    this.body = details.body;
  }
}

/** @param {number} ms */
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

// 32 hex digits; crypto.randomUUID exists only on secure pages.
function newKey() {
  return Array.from(crypto.getRandomValues(new Uint8Array(16)), b => b.toString(16).padStart(2, "0")).join("");
}

export class BrennickdClient {
  /** @param {ClientOptions} [options] */
  constructor(options = {}) {
    this.service = options.service || "http://127.0.0.1:8439";
    this.storage = options.storage || globalThis.localStorage;
    this.onProgress = options.onProgress || (() => {});
    this.pollMs = options.pollMs || 2000;
    this.retries = options.retries === undefined ? 3 : options.retries;
    this.tokenName = "brennickd-token " + this.service;
    this.pendingName = "brennickd-pending " + this.service;
  }

  /** True once the page holds a token. */
  get paired() {
    return this.storage.getItem(this.tokenName) !== null;
  }

  /** The payment left unfinished (a reload, a lost connection), or null. */
  get pending() {
    const text = this.storage.getItem(this.pendingName);
    return text === null ? null : JSON.parse(text);
  }

  /**
   * Trades the administrator's one-time code for the page's own token.
   * @param {string} code
   */
  async pair(code) {
    const response = await this.#fetch("/v1/pair", {
      method: "POST", headers: {"Content-Type": "application/json"},
      body: JSON.stringify({code: String(code).trim()}),
    });
    const body = await response.json();
    if (!response.ok) throw new BrennickdError("not-paired", body.error || "pairing refused", {status: response.status, body});
    this.storage.setItem(this.tokenName, body.token);
  }

  /**
   * Pays, and resolves only on a final answer: approved, declined,
   * not-started, or unknown once asking the terminal did not settle it.
   * @param {Payment} payment
   * @returns {Promise<Answer>}
   */
  async pay(payment) {
    if (this.pending !== null)
      throw new BrennickdError("pending", "a payment is still pending: resume() it first", {body: this.pending});
    const body = {operation: "purchase", amount: payment.amount};
    if (payment.currency !== undefined) body.currency = payment.currency;
    if (payment.traceId !== undefined) body.trace_id = payment.traceId;
    if (payment.lane !== undefined) body.lane = payment.lane;
    // Stored before the request leaves: whatever happens to it, the same key
    // asks for the same payment again.
    const pending = {key: newKey(), body};
    this.storage.setItem(this.pendingName, JSON.stringify(pending));
    return this.#finish(pending);
  }

  /**
   * Finishes what a reload or an error left pending; null when nothing is.
   * @returns {Promise<Answer | null>}
   */
  async resume() {
    const pending = this.pending;
    return pending === null ? null : this.#finish(pending);
  }

  /**
   * Asks the terminal of a lane for its last operation (no money moves).
   * brennickd then settles an unknown payment of that lane whose trace id
   * the terminal names; the answer is the terminal's.
   * @param {string} [lane]
   * @returns {Promise<Answer>}
   */
  async recover(lane) {
    const body = {operation: "last"};
    if (lane !== undefined) body.lane = lane;
    return this.#run(newKey(), body, Date.now());
  }

  /** @param {{key: string, body: any}} pending */
  async #finish(pending) {
    const began = Date.now();
    let answer;
    try {
      answer = await this.#run(pending.key, pending.body, began);
    } catch (e) {
      // Refused before it ran: nothing was charged, the key may go.
      if (e instanceof BrennickdError && (e.kind === "busy" || e.kind === "refused"))
        this.storage.removeItem(this.pendingName);
      throw e;
    }
    if (answer.state === "unknown" && answer.trace_id) {
      try {
        const last = await this.recover(pending.body.lane);
        if (last.trace_id === answer.trace_id) answer = await this.#ask(pending.key, began);
      } catch (e) {
        if (!(e instanceof BrennickdError) || e.kind !== "busy") throw e;
      }
    }
    if (FINAL.includes(answer.state)) this.storage.removeItem(this.pendingName);
    return answer;
  }

  /** One operation to its end: the POST, then GET until it is no longer running. */
  async #run(key, body, began) {
    const response = await this.#send("/v1/operations", {
      method: "POST",
      headers: {"Idempotency-Key": key, "Content-Type": "application/json"},
      body: JSON.stringify(body),
    }, true);
    const answer = await this.#answer(response, true);
    return answer.state === "running" ? this.#ask(key, began) : answer;
  }

  async #ask(key, began) {
    for (;;) {
      const response = await this.#send("/v1/operations/" + encodeURIComponent(key), {}, false);
      const answer = await this.#answer(response, false);
      if (answer.state !== "running") return answer;
      this.onProgress({state: "running", key, elapsedMs: Date.now() - began});
      await sleep(this.pollMs);
    }
  }

  // An answer, or the error that says what to do.
  async #answer(response, posted) {
    const body = await response.json().catch(() => ({}));
    if (response.ok) return body;
    if (response.status === 401 || response.status === 403) {
      if (response.status === 401 || !posted || body.field !== "operation") {
        this.storage.removeItem(this.tokenName);
        throw new BrennickdError("not-paired", body.error || "the token was refused: pair again", {status: response.status, body});
      }
    }
    if (response.status === 409)
      throw new BrennickdError("busy", body.error, {status: 409, heldBy: body.held_by, since: body.since, body});
    // A refusal of the POST ran nothing; one while asking leaves the payment
    // as it is (its key is kept).
    throw new BrennickdError(posted ? "refused" : "unreachable", body.error || "answer " + response.status,
                             {status: response.status, body});
  }

  // A request with the token; a fetch that fails is tried again with the
  // same key, then reported as unreachable or blocked.
  async #send(path, init, posted) {
    const token = this.storage.getItem(this.tokenName);
    if (token === null) throw new BrennickdError("not-paired", "not paired: ask for a pairing code (brennickd pair)");
    const headers = {...(init.headers || {}), "Authorization": "Bearer " + token};
    for (let attempt = 0; ; attempt++) {
      try {
        return await this.#fetch(path, {...init, headers});
      } catch (e) {
        if (attempt >= this.retries) throw await this.#unreachable(e);
        await sleep(500 * (attempt + 1));
      }
    }
  }

  async #fetch(path, init) {
    try {
      return await fetch(this.service + path, init);
    } catch (e) {
      if (!init.headers || !("Authorization" in init.headers)) throw await this.#unreachable(e);
      throw e;
    }
  }

  // A fetch that never reached brennickd: a browser that keeps this page
  // from the local machine (Local Network Access), or no service.
  async #unreachable(e) {
    if (e instanceof BrennickdError) return e;
    try {
      const status = await navigator.permissions.query({name: /** @type {any} */ ("local-network-access")});
      if (status.state !== "granted")
        return new BrennickdError("permission", "the browser needs permission to reach this machine (Local Network Access)");
    } catch {
      // No such permission in this browser: the service is not reached.
    }
    return new BrennickdError("unreachable", "brennickd does not answer (" + e + "): is the service running?");
  }
}

// The pool of workers that read the tapes, and how tapes are handed to
// them: a large tape or an archive takes a worker to itself, small members
// of an archive go in batches, a few to a worker. It knows nothing of the
// page's elements: what it learns goes to the view's callbacks.
import {memberEnd} from './zip.mjs';

// Reading a member of an archive partly waits on the browser, so each
// worker has a second job under way.
const PER_WORKER = 2;

const CANNOT_START = 'the page could not start its reader for it';

class Pool {
  constructor(createWorker, view, {size, batch}) {
    this.createWorker = createWorker;
    this.view = view;
    this.size = size;
    this.batchBytes = batch;
    this.queue = [];    // tapes waiting for a worker
    this.workers = [];  // {worker, reading, jobs}: reading maps the ids of the tapes it reads to them
    this.broken = false;
    this.core = null;   // the core as the first worker compiled it, for the rest to start from
  }

  fail(message) {
    if (!this.broken) this.view.broken(message);
    this.broken = true;
    for (const t of this.queue.splice(0)) this.finish(t, {error: CANNOT_START});
  }

  startWorker() {
    let worker;
    try {
      worker = this.createWorker();
    } catch (e) {
      this.fail(`the browser refused to start it (${e && e.name ? e.name : e})`);
      return null;
    }
    const entry = {worker, reading: new Map(), jobs: 0};
    worker.onmessage = ({data}) => this.onMessage(entry, data);
    worker.onerror = (event) => {
      event.preventDefault();
      worker.terminate();
      this.workers.splice(this.workers.indexOf(entry), 1);
      for (const tape of entry.reading.values()) this.finish(tape, {error: CANNOT_START});
      if (this.workers.length === 0) this.fail('its script did not run');
      this.dispatch();
    };
    this.workers.push(entry);
    // Its first message: the core to start from, or none (it compiles its own).
    try {
      worker.postMessage({type: 'core', module: this.core});
    } catch {
      worker.postMessage({type: 'core', module: null});
    }
    return entry;
  }

  // The members that follow the first in the queue, side by side in the
  // same archive, that one read of at most batchBytes takes in.
  batchFrom(first) {
    const batch = [first];
    let start = first.member.headerOffset, end = memberEnd(first.member);
    for (const t of this.queue) {
      if (t.kind !== 'member' || t.archive !== first.archive || batch.length >= 64) break;
      const s = Math.min(start, t.member.headerOffset), e = Math.max(end, memberEnd(t.member));
      if (e - s > this.batchBytes) break;
      batch.push(t);
      start = s;
      end = e;
    }
    this.queue.splice(0, batch.length - 1);
    return {batch, start, end};
  }

  // Hands the first waiting tape, or batch of members, to a worker.
  send(entry, tape, weight) {
    const job = tape.kind === 'member' && tape.total <= this.batchBytes ? this.batchFrom(tape) : {batch: [tape]};
    const counter = {left: job.batch.length, weight};
    entry.jobs += weight;
    for (const t of job.batch) {
      entry.reading.set(t.id, t);
      t.job = counter;
      t.state = 'reading';
    }
    if (job.start !== undefined) {
      entry.worker.postMessage({type: 'batch', file: tape.file, start: job.start, end: job.end, machine: tape.machine,
                                members: job.batch.map((t) => ({id: t.id, name: t.name, member: t.member, kind: t.memberKind}))});
    } else {
      entry.worker.postMessage({type: tape.kind, id: tape.id, name: tape.name, file: tape.file, member: tape.member,
                                kind: tape.memberKind, machine: tape.machine, depth: tape.depth});
    }
  }

  // Hands waiting tapes to the least busy worker.
  dispatch() {
    while (this.queue.length > 0 && !this.broken) {
      if (this.workers.length < this.size && this.workers.every((p) => p.jobs > 0) && !this.startWorker()) return;
      const entry = this.workers.reduce((a, b) => (b.jobs < a.jobs ? b : a));
      const tape = this.queue[0];
      // A large tape fills a worker: it is read as one stream, and a second
      // job's reading would wait for it.
      const weight = tape.total > this.batchBytes ? PER_WORKER : 1;
      if (entry.jobs + weight > PER_WORKER) break;
      this.queue.shift();
      this.send(entry, tape, weight);
    }
    this.view.changed();
  }

  queued(tapes) {
    for (const t of tapes) {
      t.state = 'queued';
      t.done = 0;
    }
    return tapes;
  }

  finish(tape, reply) {
    tape.state = reply.error ? 'failed' : reply.outputs ? 'done' : 'cancelled';
    tape.file = null;  // let the browser forget it
    this.view.finished(tape, reply);
  }

  // A worker that may not read a picked file asks the page's thread to.
  async readFor(entry, {request, blob}) {
    try {
      const buffer = await blob.arrayBuffer();
      entry.worker.postMessage({type: 'bytes', request, buffer}, [buffer]);
    } catch (e) {
      entry.worker.postMessage({type: 'bytes', request, error: (e && e.name) || 'Error'});
    }
  }

  onMessage(entry, data) {
    if (data.type === 'broken') return this.fail(data.message);
    if (data.type === 'ready') {
      this.core ??= data.core ?? null;
      return this.view.ready(data);
    }
    if (data.type === 'read') return this.readFor(entry, data);
    const tape = entry.reading.get(data.id);
    if (!tape) return;
    if (data.type === 'progress') {
      tape.done = data.done;
      this.view.progress(tape);
      return;
    }
    entry.reading.delete(data.id);
    if (--tape.job.left === 0) entry.jobs -= tape.job.weight;
    if (data.type === 'listing') {
      // The archive's tapes go straight into the queue, in its order, each
      // with the entry the view made for it.
      tape.state = 'done';
      this.queue.push(...this.queued(this.view.listed(tape, data.members, data.file)));
    } else if (data.type === 'result') {
      this.finish(tape, data);
    } else {
      this.finish(tape, {error: data.message, kind: data.kind});
    }
    this.dispatch();
  }

  /** Starts a worker ahead of need, so that its core is ready when the first tape comes. */
  start() {
    if (this.workers.length === 0 && !this.broken) this.startWorker();
  }

  /** How many tapes wait or are being read. */
  busy() {
    return this.queue.length + this.workers.reduce((n, p) => n + p.reading.size, 0);
  }

  /** Queues tapes to be read, in order. */
  add(...tapes) {
    this.queue.push(...this.queued(tapes));
    if (this.broken) this.fail();
    else this.dispatch();
  }

  /**
   * Stops every tape waiting or being read. A worker that is reading is
   * stopped outright, whatever it waits on, and a fresh one takes its
   * place when there is more to read.
   */
  cancel() {
    for (const t of this.queue.splice(0)) this.finish(t, {cancelled: true});
    for (const entry of this.workers.filter((p) => p.reading.size > 0)) {
      entry.worker.terminate();
      this.workers.splice(this.workers.indexOf(entry), 1);
      for (const t of entry.reading.values()) this.finish(t, {cancelled: true});
    }
    this.view.changed();
  }
}

/**
 * A pool of workers made by createWorker(). A tape is an object {id, kind,
 * name, file, member, memberKind, archive, depth, total, machine} (name: its
 * path as shown; memberKind: what an archive's member is, 'tape', 'gzip'
 * or 'recording'; depth: how many archives an archive lies inside; machine:
 * what a recording's TAP is made for) that the pool adds to: state
 * ('queued', 'reading', then 'done', 'failed' or 'cancelled') and done
 * (bytes read). view gets ready(message) when a worker's core has started,
 * progress(tape), listed(archive, members, inner) which is given the
 * archive's members as the worker typed them ({member, kind}) and, for an
 * archive inside another, its bytes as a Blob, and returns its tapes to read, finished(tape, reply) with the worker's reply or {cancelled:
 * true}, changed() after anything, and broken(message) when the workers
 * cannot start. size: how many workers at most; batch: the most bytes of an
 * archive one batch reads at once.
 */
export function createPool(createWorker, view, options) {
  return new Pool(createWorker, view, options);
}

// The pool of workers that read the tapes, and how tapes are handed to
// them: a large tape or an archive takes a worker to itself, small members
// of an archive go in batches, a few to a worker. It knows nothing of the
// page's elements: what it learns goes to the view's callbacks.
import {memberEnd} from './zip.mjs';

// Reading a member of an archive partly waits on the browser, so each
// worker has a second job under way.
const PER_WORKER = 2;

/**
 * A pool of workers made by createWorker(). A tape is an object {id, kind,
 * file, member, archive, total, machine} (machine: what a recording's TAP
 * is made for) that the pool adds to: state ('queued',
 * 'reading', then 'done', 'failed' or 'cancelled') and done (bytes read).
 * view gets progress(tape), listed(archive, members) which returns the
 * archive's tapes to read, as tapes, finished(tape, reply)
 * with reply {outputs, names, error} or {cancelled: true}, changed() after
 * anything, and broken(message) when the workers cannot start.
 * size: how many workers at most; batch: the most bytes of an archive one
 * batch reads at once.
 */
export function createPool(createWorker, view, {size, batch: batchBytes}) {
  const queue = [];  // tapes waiting for a worker
  const pool = [];   // {worker, reading, jobs}: reading maps the ids of the tapes it reads to them
  let broken = false;

  function fail(message) {
    if (!broken) view.broken(message);
    broken = true;
    for (const t of queue.splice(0)) finish(t, {error: 'the page could not start its reader for it'});
  }

  function startWorker() {
    let worker;
    try {
      worker = createWorker();
    } catch (e) {
      fail(`the browser refused to start it (${e && e.name ? e.name : e})`);
      return null;
    }
    const entry = {worker, reading: new Map(), jobs: 0};
    worker.onmessage = ({data}) => onMessage(entry, data);
    worker.onerror = (event) => {
      event.preventDefault();
      worker.terminate();
      pool.splice(pool.indexOf(entry), 1);
      for (const tape of entry.reading.values()) finish(tape, {error: 'the page could not start its reader for it'});
      if (pool.length === 0) fail('its script did not run');
      dispatch();
    };
    pool.push(entry);
    return entry;
  }

  // The members that follow the first in the queue, side by side in the
  // same archive, that one read of at most batchBytes takes in.
  function batchFrom(first) {
    const batch = [first];
    let start = first.member.headerOffset, end = memberEnd(first.member);
    for (const t of queue) {
      if (t.kind !== 'member' || t.archive !== first.archive || batch.length >= 64) break;
      const s = Math.min(start, t.member.headerOffset), e = Math.max(end, memberEnd(t.member));
      if (e - s > batchBytes) break;
      batch.push(t);
      start = s;
      end = e;
    }
    queue.splice(0, batch.length - 1);
    return {batch, start, end};
  }

  // Hands waiting tapes to the least busy worker.
  function dispatch() {
    while (queue.length > 0 && !broken) {
      if (pool.length < size && pool.every((p) => p.jobs > 0) && !startWorker()) return;
      const entry = pool.reduce((a, b) => (b.jobs < a.jobs ? b : a));
      const tape = queue[0];
      // A large tape fills a worker: it is read as one stream, and a second
      // job's reading would wait for it.
      const weight = tape.total > batchBytes ? PER_WORKER : 1;
      if (entry.jobs + weight > PER_WORKER) break;
      queue.shift();
      const job = tape.kind === 'member' && tape.total <= batchBytes ? batchFrom(tape) : {batch: [tape]};
      const counter = {left: job.batch.length, weight};
      entry.jobs += weight;
      for (const t of job.batch) {
        entry.reading.set(t.id, t);
        t.job = counter;
        t.state = 'reading';
      }
      if (job.start !== undefined) {
        entry.worker.postMessage({type: 'batch', file: tape.file, start: job.start, end: job.end, machine: tape.machine,
                                  members: job.batch.map((t) => ({id: t.id, member: t.member}))});
      } else {
        entry.worker.postMessage({type: tape.kind, id: tape.id, file: tape.file, member: tape.member,
                                  machine: tape.machine});
      }
    }
    view.changed();
  }

  function queued(tapes) {
    for (const t of tapes) {
      t.state = 'queued';
      t.done = 0;
    }
    return tapes;
  }

  function finish(tape, reply) {
    tape.state = reply.error ? 'failed' : reply.outputs ? 'done' : 'cancelled';
    tape.file = null;  // let the browser forget it
    view.finished(tape, reply);
  }

  // A worker that may not read a picked file asks the page's thread to.
  async function readFor(entry, {request, blob}) {
    try {
      const buffer = await blob.arrayBuffer();
      entry.worker.postMessage({type: 'bytes', request, buffer}, [buffer]);
    } catch (e) {
      entry.worker.postMessage({type: 'bytes', request, error: (e && e.name) || 'Error'});
    }
  }

  function onMessage(entry, data) {
    if (data.type === 'broken') return fail(data.message);
    if (data.type === 'read') return readFor(entry, data);
    const tape = entry.reading.get(data.id);
    if (!tape) return;
    if (data.type === 'progress') {
      tape.done = data.done;
      view.progress(tape);
      return;
    }
    entry.reading.delete(data.id);
    if (--tape.job.left === 0) entry.jobs -= tape.job.weight;
    if (data.type === 'listing') {
      // The archive's tapes go straight into the queue, in its order, each
      // with the entry the view made for it.
      tape.state = 'done';
      queue.push(...queued(view.listed(tape, data.members)));
    } else if (data.type === 'result') {
      finish(tape, data);
    } else {
      finish(tape, {error: data.message, recording: data.recording});
    }
    dispatch();
  }

  return {
    /** Starts a worker ahead of need, so that its core is ready when the first tape comes. */
    start() {
      if (pool.length === 0 && !broken) startWorker();
    },
    /** How many tapes wait or are being read. */
    busy() {
      return queue.length + pool.reduce((n, p) => n + p.reading.size, 0);
    },
    /** Queues tapes to be read, in order. */
    add(...tapes) {
      queue.push(...queued(tapes));
      if (broken) fail();
      else dispatch();
    },
    /**
     * Stops every tape waiting or being read. A worker that is reading is
     * stopped outright, whatever it waits on, and a fresh one takes its
     * place when there is more to read.
     */
    cancel() {
      for (const t of queue.splice(0)) finish(t, {cancelled: true});
      for (const entry of pool.filter((p) => p.reading.size > 0)) {
        entry.worker.terminate();
        pool.splice(pool.indexOf(entry), 1);
        for (const t of entry.reading.values()) finish(t, {cancelled: true});
      }
      view.changed();
    },
  };
}

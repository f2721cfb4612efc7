// Bundles the recordings' decoders (audio.mjs and what it imports from npm)
// into one ES module beside brivane.mjs, which loads it when first needed.
//   node bundle_audio.mjs OUT.mjs      (from the top of the source tree, after npm ci)
import path from 'node:path';

let esbuild;
try {
  esbuild = await import('esbuild');
} catch {
  console.error('bundle_audio.mjs: esbuild is missing: run "npm ci" at the top of the source tree first');
  process.exit(1);
}
// The decoders' own Web Worker variants, never used here, take the Worker
// class at load; in Node there is none, so they get what there is.
const noWorker = {
  name: 'no-worker',
  setup(build) {
    build.onResolve({filter: /^@eshaz\/web-worker$/}, () => ({path: 'web-worker', namespace: 'no-worker'}));
    build.onLoad({filter: /.*/, namespace: 'no-worker'}, () => ({contents: 'export default globalThis.Worker ?? class {};', loader: 'js'}));
  },
};
await esbuild.build({
  entryPoints: [new URL('./audio.mjs', import.meta.url).pathname],
  plugins: [noWorker],
  bundle: true, format: 'esm', minify: true, target: 'es2020', logLevel: 'warning',
  legalComments: 'eof',  // the decoders' own licence notes stay with them
  outfile: path.resolve(process.argv[2]),
});

// Writes the page's two front doors into the built page folder:
//   index.html    for serving beside the page's modules, with its policy;
//   brivane.html  the whole page in one file, style, scripts, the core and
//                 the workers' code inside it, that works opened from disk.
// Both carry a Content-Security-Policy that allows no connection at all, so
// that "nothing is uploaded" is kept by the browser itself.
//   node web/page/build_page.mjs PAGE_DIR      (from the top of the source tree)
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

let esbuild;
try {
  esbuild = await import('esbuild');
} catch {
  console.error('build_page.mjs: esbuild is missing: run "npm ci" at the top of the source tree first');
  process.exit(1);
}

const dir = path.resolve(process.argv[2]);
const template = fs.readFileSync(new URL('./index.html', import.meta.url), 'utf8');
const at = (name) => path.join(dir, name);

const sha256 = (text) => `'sha256-${crypto.createHash('sha256').update(text, 'utf8').digest('base64')}'`;
const inlineScripts = (html) => [...html.matchAll(/<script>([\s\S]*?)<\/script>/g)].map((m) => m[1]);

function policy({scripts, workers, styles, images}) {
  return [
    "default-src 'none'",
    `script-src ${scripts} 'wasm-unsafe-eval'`,
    `worker-src ${workers}`,
    `child-src ${workers}`,
    `style-src ${styles}`,
    `img-src ${images}`,
    "connect-src 'none'",
    "base-uri 'none'",
    "form-action 'none'",
  ].join('; ');
}

// Text to be put between <script> or <style> tags must not end them early.
function inlined(text, what) {
  if (/<\/(script|style)|<!--/i.test(text)) throw new Error(`${what} holds text that would end its tag`);
  return text;
}

// --- index.html, served beside the modules ------------------------------------

const guard = inlineScripts(template);
fs.writeFileSync(at('index.html'), template.replace('{{POLICY}}', policy({
  scripts: ["'self'", ...guard.map(sha256)].join(' '),
  workers: "'self'",
  styles: "'self'",
  images: "'self'",
})));

// --- brivane.html, all in one -------------------------------------------------

const common = {
  bundle: true, format: 'iife', minify: true, write: false, target: 'es2020', logLevel: 'warning',
  // The core names the file its WebAssembly would come from, relative to its
  // own; a script inside a page has no file, and the bytes are handed over.
  define: {'import.meta.url': '"file:///"'},
};
const worker = await esbuild.build({...common, entryPoints: [at('worker.mjs')]});
const workerCode = worker.outputFiles[0].text;

// The page's bundle carries the workers' code as a string in worker_source.mjs.
const embedWorker = {
  name: 'embed-worker',
  setup(build) {
    build.onResolve({filter: /worker_source\.mjs$/}, () => ({path: 'worker_source', namespace: 'embedded'}));
    build.onLoad({filter: /.*/, namespace: 'embedded'}, () => ({
      contents: `export default ${JSON.stringify(workerCode)};`, loader: 'js'}));
  },
};
const page = await esbuild.build({...common, entryPoints: [at('page.mjs')], plugins: [embedWorker]});
const pageCode = inlined(page.outputFiles[0].text, 'the page script');
const style = inlined(fs.readFileSync(at('style.css'), 'utf8'), 'the style sheet');
const icon = `data:image/svg+xml;base64,${fs.readFileSync(at('icon.svg')).toString('base64')}`;

let html = template
  .replace('<link rel="icon" href="icon.svg" type="image/svg+xml">', `<link rel="icon" href="${icon}" type="image/svg+xml">`)
  .replace('<link rel="stylesheet" href="style.css">', () => `<style>${style}</style>`)
  .replace('<script type="module" src="page.mjs"></script>\n', '')
  .replace('</body>', () => `<script>${pageCode}</script>\n</body>`);
if (html.includes('page.mjs') || html.includes('style.css') || html.includes('icon.svg'))
  throw new Error('brivane.html still points at a file beside it');
html = html.replace('{{POLICY}}', policy({
  scripts: inlineScripts(html).map(sha256).join(' '),
  workers: 'blob:',
  styles: sha256(style),
  images: 'data:',
}));
fs.writeFileSync(at('brivane.html'), html);

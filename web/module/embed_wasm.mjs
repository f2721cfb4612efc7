// Writes the core's WebAssembly as an ES module holding its bytes in base64,
// so that the page and Node hand it to the core without fetching anything.
//   node embed_wasm.mjs CORE.wasm OUT.mjs
import fs from 'node:fs';

const [wasm, out] = process.argv.slice(2);
const base64 = fs.readFileSync(wasm).toString('base64');
fs.writeFileSync(out, `// The core's WebAssembly, made by the build.\nexport default '${base64}';\n`);

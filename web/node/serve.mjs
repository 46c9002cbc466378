// The page's server for scripts/web and the browser test: web/ at /, the example patches at
// /examples/, the wasm file at /fourwave.wasm. 127.0.0.1 only; nothing is fetched from
// anywhere else. Prints the URL once it listens.
//   node web/node/serve.mjs [--port N] [--wasm PATH]
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8', '.json': 'application/json; charset=utf-8',
  '.wasm': 'application/wasm', '.png': 'image/png', '.svg': 'image/svg+xml', '.ico': 'image/x-icon',
};

export function startServer({ port = 8000, wasm = path.join(root, 'build/web/fourwave.wasm') } = {}) {
  const mounts = [
    ['/examples/', path.join(root, 'examples')],
    ['/', path.join(root, 'web')],
  ];
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    let file = null;
    if (url.pathname === '/fourwave.wasm') file = wasm;
    else if (url.pathname === '/examples/index.json') {
      const names = fs.readdirSync(mounts[0][1]).filter((f) => f.endsWith('.json')).sort();
      response.writeHead(200, { 'Content-Type': TYPES['.json'], 'Cache-Control': 'no-store' });
      response.end(JSON.stringify(names));
      return;
    } else {
      for (const [prefix, folder] of mounts) {
        if (!url.pathname.startsWith(prefix)) continue;
        const relative = decodeURIComponent(url.pathname.slice(prefix.length)) || 'index.html';
        const candidate = path.resolve(folder, relative);
        if (candidate.startsWith(folder + path.sep) || candidate === folder) file = candidate;
        break;
      }
    }
    if (!file || !fs.existsSync(file) || !fs.statSync(file).isFile() || file.includes(`${path.sep}node${path.sep}`)) {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      response.end('not found\n');
      return;
    }
    response.writeHead(200, {
      'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
      'Cache-Control': 'no-store',
    });
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => resolve(server));
  });
}

if (process.argv[1] && process.argv[1].endsWith('serve.mjs')) {
  const args = process.argv.slice(2);
  const option = (name, fallback) => { const i = args.indexOf(name); return i >= 0 ? args[i + 1] : fallback; };
  const port = Number(option('--port', process.env.FOURWAVE_WEB_PORT || 8000));
  const server = await startServer({ port, wasm: option('--wasm', undefined) }).catch((error) => {
    console.error(`web: cannot listen on 127.0.0.1:${port}: ${error.message}`);
    process.exit(1);
  });
  console.log(`Fourwave in the browser: http://127.0.0.1:${server.address().port}/  (Ctrl-C stops)`);
}

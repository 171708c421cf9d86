'use strict';
// The reference client of the live-channel benchmark: Node's official socket.io-client 4, doing
// exactly what medir_canal does with our client, against the same server. Prints one JSON object.
// Usage: node cliente-socketio.js URL TOKEN SECUENCIALES EN_VUELO_TOTAL EN_VUELO GRANDES
const path = require('path');
const { io } = require(path.join(__dirname, '..', 'tests', 'servicio', 'node_modules', 'socket.io-client'));

const [url, token, secuenciales, total, enVuelo, grandes] = process.argv.slice(2);
const ahora = () => Number(process.hrtime.bigint()) / 1e6;  // ms
const cpu = () => { const u = process.cpuUsage(); return (u.user + u.system) / 1000; };  // ms

function pedir(socket, evento, datos) {
  return new Promise((resolve) => socket.emit(evento, datos, (r) => resolve(r)));
}

function percentil(lista, p) {
  const orden = [...lista].sort((a, b) => a - b);
  return orden[Math.min(orden.length - 1, Math.floor((p / 100) * orden.length))];
}

async function main() {
  const socket = io(url, { path: '/socket.io', transports: ['websocket'], auth: { token }, reconnection: false });
  await new Promise((resolve, reject) => {
    socket.on('connect', resolve);
    socket.on('connect_error', reject);
  });
  const r = {};

  // Warm-up, as the C++ side does.
  for (let i = 0; i < 200; i++) await pedir(socket, 'bench:eco', { n: i });

  const lat = [];
  let t0 = ahora();
  let c0 = cpu();
  for (let i = 0; i < Number(secuenciales); i++) {
    const t = ahora();
    const resp = await pedir(socket, 'bench:eco', { n: i, texto: 'hola' });
    if (!resp || resp.ok !== true) throw new Error('respuesta inesperada');
    lat.push(ahora() - t);
  }
  r.secuencial = { porSegundo: Number(secuenciales) / ((ahora() - t0) / 1000), p50: percentil(lat, 50), p99: percentil(lat, 99),
                   cpuUs: (cpu() - c0) * 1000 / Number(secuenciales) };

  const latV = [];
  let siguiente = 0;
  t0 = ahora();
  c0 = cpu();
  async function trabajador() {
    while (siguiente < Number(total)) {
      const n = siguiente++;
      const t = ahora();
      await pedir(socket, 'bench:eco', { n, texto: 'hola' });
      latV.push(ahora() - t);
    }
  }
  await Promise.all(Array.from({ length: Number(enVuelo) }, trabajador));
  r.enVuelo = { porSegundo: Number(total) / ((ahora() - t0) / 1000), p50: percentil(latV, 50), p99: percentil(latV, 99),
                cpuUs: (cpu() - c0) * 1000 / Number(total) };

  const archivo = Buffer.alloc(8 * 1024 * 1024);
  for (let i = 0; i < archivo.length; i++) archivo[i] = (i * 31) & 0xff;
  const subir = [];
  const bajar = [];
  c0 = cpu();
  for (let i = 0; i < Number(grandes); i++) {
    let t = ahora();
    const s = await pedir(socket, 'bench:subir', { archivo: archivo });
    if (!s || s.ok !== true) throw new Error('subida sin acuse');
    subir.push(ahora() - t);
    t = ahora();
    const b = await pedir(socket, 'bench:bajar', {});
    if (!b || typeof b.datos !== 'string') throw new Error('bajada sin datos');
    bajar.push(ahora() - t);
  }
  r.cpuGrandes = (cpu() - c0) / Number(grandes);
  r.subir = percentil(subir, 50);
  r.bajar = percentil(bajar, 50);
  socket.close();
  process.stdout.write(JSON.stringify(r) + '\n');
}

main().catch((e) => {
  process.stderr.write(String(e && e.stack || e) + '\n');
  process.exit(1);
});

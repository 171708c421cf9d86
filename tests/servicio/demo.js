'use strict';
// The stand-in Zentu service with a demo business (negocio.json), for trying the program without
// an account. It serves the service (REST and live channel) and the realtime voice of calls, keeps
// the pairing and the business in a folder across restarts, and takes orders on its console.
// Usage: node tests/servicio/demo.js [--puerto N] [--puerto-voz N] [--estado CARPETA]
//   --puerto      the service's port (8765); --puerto-voz the voice's (the service's + 1)
//   --estado      where the pairing and the business are kept (~/.local/state/zentu-demo);
//                 delete that folder to start over.

const { spawn, spawnSync } = require('child_process');
const crypto = require('crypto');
const http = require('http');
const os = require('os');
const path = require('path');
const readline = require('readline');

const argumentos = process.argv.slice(2);
function opcion(nombre) {
  const i = argumentos.indexOf(nombre);
  return i >= 0 && i + 1 < argumentos.length ? argumentos[i + 1] : undefined;
}
const puerto = Number(opcion('--puerto') || 8765);
const puertoVoz = Number(opcion('--puerto-voz') || (puerto ? puerto + 1 : 0));
const carpeta = path.resolve(opcion('--estado') ||
  path.join(process.env.XDG_STATE_HOME || path.join(os.homedir(), '.local', 'state'), 'zentu-demo'));
const datos = require('./negocio.json');

// ------------------------------------------------------------------ the two servers
const hijos = [];
function arrancar(programa, extra) {
  return new Promise((resolve, reject) => {
    const hijo = spawn(process.execPath, [path.join(__dirname, programa), ...extra], { stdio: ['ignore', 'pipe', 'inherit'] });
    hijos.push(hijo);
    const lineas = readline.createInterface({ input: hijo.stdout });
    let listo = false;
    lineas.on('line', (linea) => {
      const m = /^puerto (\d+)$/.exec(linea);
      if (!listo && m) { listo = true; resolve({ puerto: Number(m[1]), lineas }); }
    });
    hijo.on('exit', (codigo) => {
      if (!listo) reject(new Error(programa + ' terminó (' + codigo + ')'));
      else { console.error('El servicio se detuvo (' + codigo + ').'); process.exit(codigo || 1); }
    });
  });
}
function parar() { hijos.forEach((h) => h.kill('SIGTERM')); }
for (const senal of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(senal, () => { parar(); process.exit(0); });
process.on('exit', parar);

function control(puertoDe, que, cuerpo) {
  return new Promise((resolve, reject) => {
    const d = Buffer.from(JSON.stringify(cuerpo || {}));
    const req = http.request({ host: '127.0.0.1', port: puertoDe, method: cuerpo ? 'POST' : 'GET', path: '/__control/' + que,
      headers: { 'Content-Type': 'application/json', 'Content-Length': d.length } }, (res) => {
      const trozos = [];
      res.on('data', (t) => trozos.push(t));
      res.on('end', () => resolve(JSON.parse(Buffer.concat(trozos).toString('utf8') || 'null')));
    });
    req.on('error', reject);
    req.end(d);
  });
}

// ------------------------------------------------------------------ the console
async function codigoNuevo(url, servicio) {
  const codigo = 'demo-' + crypto.randomBytes(4).toString('hex');
  await control(servicio, 'codigo', { codigo });
  const texto = JSON.stringify({ v: 1, url, codigo });
  console.log('Código para enlazar (vale una vez): copia la línea siguiente y pulsa Ctrl+V en la ventana');
  console.log('«Zentu AI» del programa, o ejecuta «zentu --enlazar-portapapeles» con ella copiada.');
  console.log('');
  console.log(texto);
  console.log('');
  // The same code as a QR picture, where qrencode is installed.
  const qr = spawnSync('qrencode', ['-t', 'UTF8', texto], { encoding: 'utf8' });
  if (qr.status === 0) console.log(qr.stdout);
}

async function main() {
  const servicio = await arrancar('servidor.js', ['--puerto', String(puerto), '--negocio', path.join(__dirname, 'negocio.json'),
    '--estado', carpeta]);
  const voz = await arrancar('realtime.js', ['--puerto', String(puertoVoz)]);
  await control(voz.puerto, 'guion', {
    alConectar: [{ type: 'session.created', session: { model: 'gpt-realtime',
      audio: { input: { format: { type: 'audio/pcm', rate: 24000 } } },
      tools: [{ type: 'function', name: 'consultar_pedidos', description: 'Los pedidos de hoy.', parameters: { type: 'object', properties: {} } }] } }],
    conversar: Object.assign({ segundos: 2 }, datos.llamada),
  });
  const url = 'http://127.0.0.1:' + servicio.puerto;
  const realtime = 'ws://127.0.0.1:' + voz.puerto;

  console.log('Servicio de demostración de «' + datos.cuenta.nombre + '» en ' + url);
  console.log('Guarda el enlace y el negocio en ' + carpeta + ' (bórrala para empezar de cero).');
  console.log('');
  console.log('La voz de las llamadas está en ' + realtime + '. Abre Zentu AI apuntando a ella (si ya está');
  console.log('abierto, ciérralo antes desde su menú, «Salir de Zentu AI»):');
  console.log('');
  console.log('    ZENTU_REALTIME=' + realtime + ' zentu');
  console.log('');
  if ((await control(servicio.puerto, 'enlazado')).enlazado) {
    console.log('Zentu AI ya está enlazado con esta demostración: se vuelve a conectar solo.');
    console.log('Para enlazar otro, o de nuevo:');
  }
  await codigoNuevo(url, servicio.puerto);
  console.log('Escribe una orden y Enter («ayuda» las lista: llamar, duda, permiso, mensaje, cliente…).');

  const conexionesVoz = async () => (await control(voz.puerto, 'conexiones')).length;
  servicio.lineas.on('line', async (linea) => {
    let m;
    try { m = JSON.parse(linea); } catch (e) { return; }
    if (m.aviso) console.log('→ ' + m.aviso);
    if (m.desenlazado) await codigoNuevo(url, servicio.puerto);
    if (m.llamada) {
      // A call whose voice never arrives here: the program was started without the address.
      const antes = await conexionesVoz();
      setTimeout(async () => {
        if ((await conexionesVoz()) === antes) {
          console.log('→ La llamada no llegó a la voz de la demostración: Zentu AI se abrió sin');
          console.log('  ZENTU_REALTIME=' + realtime + '. Ciérralo («Salir de Zentu AI») y ábrelo así.');
        }
      }, 10000);
    }
  });

  readline.createInterface({ input: process.stdin }).on('line', async (linea) => {
    if (!linea.trim()) return;
    const r = await control(servicio.puerto, 'orden', { orden: linea });
    if (r && r.texto) console.log(r.texto);
  });
}

main().catch((e) => {
  console.error('No se pudo arrancar la demostración: ' + e.message + (puerto ? ' (¿está ocupado el puerto ' + puerto + '?)' : ''));
  parar();
  process.exit(1);
});

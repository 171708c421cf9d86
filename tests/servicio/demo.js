'use strict';
// The stand-in Zentu service with demo data, for trying the program without an account.
// Usage: node tests/servicio/demo.js [--puerto N]   (8765 unless told)
// Prints a one-time pairing code that the program accepts (paste it into the pairing window,
// or copy it and run "zentu --enlazar-portapapeles"). Then type "llamar" and Enter for an
// agent's incoming call, "colgar" to withdraw it, or Ctrl+C to stop.

const { spawn, spawnSync } = require('child_process');
const http = require('http');
const path = require('path');
const readline = require('readline');
const crypto = require('crypto');

const argumentos = process.argv.slice(2);
const i = argumentos.indexOf('--puerto');
const puerto = i >= 0 && i + 1 < argumentos.length ? Number(argumentos[i + 1]) : 8765;

const servidor = spawn(process.execPath, [path.join(__dirname, 'servidor.js'), '--puerto', String(puerto)], {
  stdio: ['ignore', 'pipe', 'inherit'],
});
for (const senal of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.on(senal, () => { servidor.kill('SIGTERM'); process.exit(0); });
process.on('exit', () => servidor.kill('SIGTERM'));

function control(que, cuerpo) {
  return new Promise((resolve, reject) => {
    const datos = Buffer.from(JSON.stringify(cuerpo || {}));
    const req = http.request({ host: '127.0.0.1', port: puerto, method: 'POST', path: '/__control/' + que,
      headers: { 'Content-Type': 'application/json', 'Content-Length': datos.length } }, (res) => {
      const trozos = [];
      res.on('data', (t) => trozos.push(t));
      res.on('end', () => resolve(JSON.parse(Buffer.concat(trozos).toString('utf8') || 'null')));
    });
    req.on('error', reject);
    req.end(datos);
  });
}

// Replies that stay (no "veces"): every request of that path gets them.
const respuesta = (metodo, ruta, cuerpo) => control('respuesta', { metodo, ruta, estado: 200, cuerpo });

async function preparar(url) {
  const token = 'token-demo-' + crypto.randomBytes(6).toString('hex');
  const codigo = 'demo-' + crypto.randomBytes(4).toString('hex');
  await control('token', { token });
  await control('codigo', { codigo, respuesta: { token, propietario: 'dueno@laespiga.mx', nombre: 'Panadería La Espiga' } });

  const hace = (min) => new Date(Date.now() - min * 60000).toISOString();
  await respuesta('GET', '/api/agentes', { agentes: [
    { id: 1, name: 'zentu', categoria: 'coordinador', is_active: true, is_coordinator: true, conversaciones: 3 },
    { id: 2, name: 'ventas', categoria: 'ventas', is_active: true, conversaciones: 5 },
    { id: 3, name: 'atencion_cliente', categoria: 'atencion', is_active: true, conversaciones: 2 },
    { id: 4, name: 'cobranza', categoria: 'cobranza', is_active: false, conversaciones: 0 },
  ] });
  await respuesta('GET', '/api/pulso', { hoy: { conversaciones: 14 }, ayer: { conversaciones: 11 }, solas: 86 });
  await respuesta('GET', '/api/dudas', { dudas: [
    { id: 17, question: '¿Le hago 10 % de descuento a un cliente que pide 40 bolillos para mañana?',
      options: ['Sí, el 10 %', 'Solo el 5 %', 'No'], created_at: hace(25), cliente: 'Marta Ruiz' },
  ] });
  await respuesta('GET', '/api/pendientes/permisos', []);
  // The owner's chat of the stand-in: its history, and what the owner sends (texts and files)
  // kept and pushed back as the service does.
  await control('chat', { mensajes: [
    { messageId: 'm1', text: '¡Buenos días! Hoy van 14 conversaciones y una duda te espera.', fromMe: true, type: 'text',
      sender: 'Zentu', timestamp: hace(30) },
  ] });

  const texto = JSON.stringify({ v: 1, url, codigo });
  console.log('Servicio de demostración en ' + url);
  console.log('Código para enlazar (una sola vez): pégalo en la ventana «Zentu AI» con Ctrl+V,');
  console.log('o cópialo y ejecuta: zentu --enlazar-portapapeles');
  console.log('');
  console.log(texto);
  console.log('');
  // The same code as a QR picture in the terminal, where qrencode is installed.
  const qr = spawnSync('qrencode', ['-t', 'UTF8', texto], { encoding: 'utf8' });
  if (qr.status === 0) console.log(qr.stdout);
  console.log('Escribe «llamar» y Enter para que un agente te llame, «colgar» para retirar la llamada.');
}

let consulta = 17;
readline.createInterface({ input: process.stdin }).on('line', async (linea) => {
  const orden = linea.trim();
  if (orden === 'llamar') {
    const r = await control('emitir', { evento: 'llamada:entrante',
      args: [{ consultaId: consulta, pregunta: '¿Le hago descuento?', agente: 'ventas' }] });
    console.log(r.sockets ? 'Llamando…' : 'Zentu AI no está conectado todavía.');
  } else if (orden === 'colgar') {
    await control('emitir', { evento: 'llamada:cancelada', args: [{ consultaId: consulta }] });
    consulta += 1;
  }
});

servidor.stdout.on('data', async (datos) => {
  const m = /puerto (\d+)/.exec(datos.toString('utf8'));
  if (!m) return;
  try {
    await preparar('http://127.0.0.1:' + m[1]);
  } catch (e) {
    console.error('No se pudo preparar la demostración: ' + e.message);
    process.exit(1);
  }
});
servidor.on('exit', (codigo) => {
  if (codigo) console.error('El servicio terminó (' + codigo + '); ¿está ocupado el puerto ' + puerto + '?');
  process.exit(codigo || 0);
});

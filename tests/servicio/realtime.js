'use strict';
// Stand-in realtime speech service for the call tests: a WebSocket endpoint at "/v1/realtime"
// that speaks JSON events, and a control API under "/__control/" through which a test scripts
// what happens on connection, pushes events, and reads what the program sent. With the script's
// "conversar" it holds a conversation by itself, as the demo needs: it greets on a call the owner
// starts, answers every "response.create", and its voice is a 200 Hz tone.
// Usage: node realtime.js [--puerto N]. Prints "puerto N" on standard output once it listens.

const http = require('http');
const { WebSocketServer } = require('ws');

const argumentos = process.argv.slice(2);
const iPuerto = argumentos.indexOf('--puerto');
const puerto = iPuerto >= 0 ? Number(argumentos[iPuerto + 1]) : 0;

const estado = {
  guion: { alConectar: [{ type: 'session.created', session: { model: 'gpt-realtime', audio: { input: { format: { type: 'audio/pcm', rate: 24000 } } }, tools: [] } }] },
  recibidos: [],     // every message from the program: parsed JSON, or {crudo} / {binario}
  conexiones: [],    // {url, autorizacion, abierta, codigo}
};
const clientes = new Set();

function enviarJson(res, codigo, valor) {
  const texto = JSON.stringify(valor === undefined ? null : valor);
  res.writeHead(codigo, { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(texto) });
  res.end(texto);
}

function leerCuerpo(req) {
  return new Promise((resolve) => {
    const trozos = [];
    req.on('data', (t) => trozos.push(t));
    req.on('end', () => resolve(Buffer.concat(trozos)));
  });
}

function mandar(ws, d) {
  if (d.evento !== undefined) ws.send(JSON.stringify(d.evento));
  else if (d.texto !== undefined) ws.send(d.texto);
  else if (d.binario !== undefined) ws.send(Buffer.from(d.binario, 'base64'));
  else if (d.grande !== undefined) ws.send(JSON.stringify({ type: 'relleno', datos: 'x'.repeat(d.grande) }));
}

const servidorHttp = http.createServer(async (req, res) => {
  const cuerpo = await leerCuerpo(req);
  const url = new URL(req.url, 'http://127.0.0.1');
  if (!url.pathname.startsWith('/__control/')) return enviarJson(res, 404, { error: 'No existe' });
  let d = null;
  try { d = cuerpo.length ? JSON.parse(cuerpo.toString('utf8')) : null; } catch (e) { return enviarJson(res, 400, { error: 'JSON' }); }
  const que = url.pathname.slice('/__control/'.length);
  switch (que) {
    case 'guion': // {alConectar: [events], rechazar: HTTP status, colgarSaludo: bool, cerrarAlConectar: code,
    //            conversar: {saludo, entrante, respuesta, segundos}}
      estado.guion = d || {};
      return enviarJson(res, 200, { ok: true });
    case 'enviar': // {evento} | {texto} | {binario: base64} | {grande: characters}
      clientes.forEach((ws) => mandar(ws, d));
      return enviarJson(res, 200, { ok: true, clientes: clientes.size });
    case 'recibidos': {
      if (req.method === 'DELETE') estado.recibidos = [];
      const tipo = url.searchParams.get('tipo');
      const lista = tipo ? estado.recibidos.filter((m) => m.type === tipo) : estado.recibidos;
      return enviarJson(res, 200, lista);
    }
    case 'cuenta': { // {tipo: n} for every type received
      const cuenta = {};
      estado.recibidos.forEach((m) => { const t = m.type || '?'; cuenta[t] = (cuenta[t] || 0) + 1; });
      return enviarJson(res, 200, cuenta);
    }
    case 'conexiones':
      return enviarJson(res, 200, estado.conexiones);
    case 'cortar': // {codigo}: a closing handshake with that code; without it the TCP link drops
      clientes.forEach((ws) => { if (d && d.codigo) ws.close(d.codigo); else ws.terminate(); });
      return enviarJson(res, 200, { ok: true });
    default:
      return enviarJson(res, 404, { error: 'control desconocido: ' + que });
  }
});

// ------------------------------------------------------------------ a conversation by itself
// `segundos` of the agent's voice: a 200 Hz tone at 24 kHz, 16-bit little-endian, that rises and
// falls three times a second like syllables.
function voz(segundos) {
  const n = Math.round(24000 * segundos);
  const b = Buffer.alloc(n * 2);
  for (let i = 0; i < n; i++) {
    const t = i / 24000;
    const borde = Math.min(1, t / 0.02, (segundos - t) / 0.02);
    const a = 0.3 * borde * (0.6 + 0.4 * Math.sin(2 * Math.PI * 3 * t));
    b.writeInt16LE(Math.round(32767 * a * Math.sin(2 * Math.PI * 200 * t)), 2 * i);
  }
  return b;
}

// Returns the handler of the program's events on one connection.
function conversar(ws, c) {
  const enviar = (e) => { if (ws.readyState === ws.OPEN) ws.send(JSON.stringify(e)); };
  let respuestas = 0;
  let items = 0;
  let llamadaDeAgente = false;   // the program set the scene with a system message
  const decir = (texto) => {
    const id = 'resp-' + ++respuestas;
    enviar({ type: 'response.created', response: { id } });
    const audio = voz(c.segundos || 2);
    for (let i = 0; i < audio.length; i += 4800) {
      enviar({ type: 'response.output_audio.delta', item_id: id, delta: audio.subarray(i, i + 4800).toString('base64') });
    }
    enviar({ type: 'response.output_audio_transcript.done', item_id: id, transcript: texto });
    enviar({ type: 'response.done', response: { id, usage: { input_tokens: 40, output_tokens: 25,
      input_token_details: { audio_tokens: 30, text_tokens: 10 }, output_token_details: { audio_tokens: 20, text_tokens: 5 } } } });
  };
  // A call the owner starts: the agent greets unless the program says the agent placed it.
  setTimeout(() => { if (!llamadaDeAgente && respuestas === 0) decir(c.saludo); }, 1000);
  return (e) => {
    if (e.type === 'conversation.item.create' && e.item) {
      if (e.item.role === 'system') llamadaDeAgente = true;
      enviar({ type: 'conversation.item.created', item: Object.assign({ id: 'item-' + ++items }, e.item) });
    } else if (e.type === 'response.create') {
      decir(llamadaDeAgente && respuestas === 0 ? c.entrante : c.respuesta);
    }
  };
}

const wss = new WebSocketServer({ noServer: true, maxPayload: 64 * 1024 * 1024 });

servidorHttp.on('upgrade', (req, socket, cabeza) => {
  const url = new URL(req.url, 'http://127.0.0.1');
  const g = estado.guion;
  const conexion = { url: req.url, autorizacion: req.headers['authorization'] || null, abierta: false, codigo: null };
  estado.conexiones.push(conexion);
  if (url.pathname !== '/v1/realtime') { socket.end('HTTP/1.1 404 Not Found\r\n\r\n'); return; }
  if (g.colgarSaludo) return; // never answers the handshake
  if (g.rechazar) { socket.end(`HTTP/1.1 ${g.rechazar} Rechazado\r\nContent-Length: 0\r\n\r\n`); return; }
  wss.handleUpgrade(req, socket, cabeza, (ws) => {
    conexion.abierta = true;
    clientes.add(ws);
    const charla = g.conversar ? conversar(ws, g.conversar) : null;
    ws.on('message', (datos, binario) => {
      if (binario) { estado.recibidos.push({ binario: datos.length }); return; }
      const texto = datos.toString('utf8');
      let evento;
      try { evento = JSON.parse(texto); } catch (e) { estado.recibidos.push({ crudo: texto }); return; }
      estado.recibidos.push(evento);
      if (charla) charla(evento);
    });
    ws.on('close', (codigo) => { conexion.abierta = false; conexion.codigo = codigo; clientes.delete(ws); });
    (g.alConectar || []).forEach((e) => ws.send(typeof e === 'string' ? e : JSON.stringify(e)));
    if (g.cerrarAlConectar) ws.close(g.cerrarAlConectar);
  });
});

servidorHttp.listen(puerto, '127.0.0.1', () => {
  process.stdout.write('puerto ' + servidorHttp.address().port + '\n');
});

process.on('SIGTERM', () => { clientes.forEach((ws) => ws.terminate()); servidorHttp.close(); process.exit(0); });

'use strict';
// Stand-in Zentu service for the tests. One loopback HTTP port serves:
//   - the REST paths the program calls, with replies a test can script per method and path;
//   - the live channel (Socket.IO 4) at the socket path that "/api/dudas/canal" names;
//   - a control API under "/__control/" through which a test scripts replies, reads what the
//     program sent, pushes events and makes requests of its own.
// Binary data crosses the control API as {"$bin": "<base64>"}.
// Usage: node servidor.js [--puerto N] [--ping-intervalo MS] [--ping-espera MS]
// Prints "puerto N" on standard output once it listens.

const http = require('http');
const { Server } = require('socket.io');

const argumentos = process.argv.slice(2);
function opcion(nombre, porDefecto) {
  const i = argumentos.indexOf(nombre);
  return i >= 0 && i + 1 < argumentos.length ? Number(argumentos[i + 1]) : porDefecto;
}

const estado = {
  tokens: new Set(['token-bueno']),
  respuestas: new Map(),     // "GET /ruta" -> [{estado, cuerpo|texto, retraso, cabeceras, veces}]
  archivos: new Map(),       // id -> Buffer
  peticiones: [],            // REST requests received (not control)
  eventos: [],               // live-channel packets received from clients
  acks: new Map(),           // event name -> reply args for the client's requests
  chat: null,               // the owner's chat once a test turns it on (control "chat")
  // The voice side: what "voice:audio" transcribes to and how "voice:tts-stream" speaks.
  voz: {
    transcripcion: { ok: true, text: '' },   // ack of "voice:audio" (retraso, sinRespuesta optional)
    habla: { trozos: 4, bytes: 4801, ok: true, retrasoTrozo: 0, retrasoAck: 0, ackAntes: false, sinRespuesta: false },
  },
  codigos: new Map([['codigo-bueno', { token: 'token-nuevo', propietario: 'dueno@negocio.mx', nombre: 'Negocio' }]]),
  maximoRegistro: Infinity,  // how many received requests and events are kept (the last ones)
};

// Keeps what `crear` builds in `lista`, within the record's limit; with the record off nothing is
// built at all (a benchmark's 8 MiB attachments are never copied).
function anotar(lista, crear) {
  if (estado.maximoRegistro <= 0) return;
  lista.push(crear());
  if (lista.length > estado.maximoRegistro) lista.splice(0, lista.length - estado.maximoRegistro);
}

// ------------------------------------------------------------------ binary <-> JSON for control
function aJson(v) {
  if (Buffer.isBuffer(v) || v instanceof ArrayBuffer || ArrayBuffer.isView(v)) {
    const b = ArrayBuffer.isView(v) ? Buffer.from(v.buffer, v.byteOffset, v.byteLength) : Buffer.from(v);
    return { $bin: b.toString('base64') };
  }
  if (Array.isArray(v)) return v.map(aJson);
  if (v && typeof v === 'object') {
    const o = {};
    for (const [k, x] of Object.entries(v)) o[k] = aJson(x);
    return o;
  }
  return v;
}
function deJson(v) {
  if (Array.isArray(v)) return v.map(deJson);
  if (v && typeof v === 'object') {
    if (typeof v.$bin === 'string' && Object.keys(v).length === 1) return Buffer.from(v.$bin, 'base64');
    const o = {};
    for (const [k, x] of Object.entries(v)) o[k] = deJson(x);
    return o;
  }
  return v;
}

// ------------------------------------------------------------------ HTTP helpers
function leerCuerpo(req) {
  return new Promise((resolve) => {
    const trozos = [];
    req.on('data', (t) => trozos.push(t));
    req.on('end', () => resolve(Buffer.concat(trozos)));
  });
}
function enviarJson(res, codigo, valor) {
  const texto = JSON.stringify(valor === undefined ? null : valor);
  res.writeHead(codigo, { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(texto) });
  res.end(texto);
}

function respuestaGuionada(metodo, ruta) {
  const lista = estado.respuestas.get(metodo + ' ' + ruta);
  if (!lista || lista.length === 0) return null;
  const r = lista[0];
  if (r.veces !== undefined) {
    r.veces -= 1;
    if (r.veces <= 0) lista.shift();
  }
  return r;
}

function responderGuion(res, r) {
  const enviar = () => {
    if (r.cortar) { res.socket.destroy(); return; }
    const cabeceras = Object.assign({}, r.cabeceras || {});
    let cuerpo;
    if (r.texto !== undefined) cuerpo = Buffer.from(r.texto, 'utf8');
    else if (r.base64 !== undefined) cuerpo = Buffer.from(r.base64, 'base64');
    else if (r.cuerpo !== undefined) { cuerpo = Buffer.from(JSON.stringify(r.cuerpo)); cabeceras['Content-Type'] = 'application/json'; }
    else cuerpo = Buffer.alloc(0);
    if (r.cortarTras !== undefined) {
      // Promise more than is sent, then drop the connection half-way.
      cabeceras['Content-Length'] = cuerpo.length;
      res.writeHead(r.estado, cabeceras);
      res.write(cuerpo.subarray(0, r.cortarTras));
      setTimeout(() => res.socket.destroy(), 50);
      return;
    }
    cabeceras['Content-Length'] = cuerpo.length;
    res.writeHead(r.estado, cabeceras);
    res.end(cuerpo);
  };
  if (r.retraso) setTimeout(enviar, r.retraso); else enviar();
}

// Replies of the service for the paths the program uses, unless a test scripted otherwise.
function respuestaPorDefecto(metodo, ruta, cuerpo, cabeceras) {
  const autorizado = () => {
    const a = cabeceras['authorization'] || '';
    return a.startsWith('Bearer ') && estado.tokens.has(a.slice(7));
  };
  if (metodo === 'GET' && ruta === '/api/dudas/canal') {
    return autorizado() ? { estado: 200, cuerpo: { path: '/socket.io' } } : { estado: 401, cuerpo: { error: 'sin sesión' } };
  }
  if (metodo === 'POST' && ruta === '/api/pairing/canjear') {
    let datos = null;
    try { datos = JSON.parse(cuerpo.toString('utf8')); } catch (e) { datos = null; }
    const canje = datos && estado.codigos.get(datos.codigo);
    if (canje) { estado.codigos.delete(datos.codigo); return { estado: 200, cuerpo: canje }; }
    return { estado: 400, cuerpo: { error: 'Código vencido o ya usado' } };
  }
  // The call's endpoints: a realtime token, a tool that answers, and the two end reports.
  if (ruta.startsWith('/api/v1/llamada/')) {
    if (!autorizado()) return { estado: 401, cuerpo: { error: 'sin sesión' } };
    if (metodo === 'GET' && ruta === '/api/v1/llamada/realtime/token') {
      return { estado: 200, cuerpo: { token: 'token-realtime', modelo: 'gpt-realtime', llamadaId: 'llamada-1' } };
    }
    if (metodo === 'POST' && ruta === '/api/v1/llamada/realtime/tool') return { estado: 200, cuerpo: { resultado: 'Hecho.' } };
    if (metodo === 'POST' && (ruta === '/api/v1/llamada/realtime/uso' || ruta === '/api/v1/llamada/fin')) {
      return { estado: 200, cuerpo: { ok: true } };
    }
  }
  const descarga = '/api/files/download/';
  if (metodo === 'GET' && ruta.startsWith(descarga)) {
    if (!autorizado()) return { estado: 401, cuerpo: { error: 'sin sesión' } };
    const id = decodeURIComponent(ruta.slice(descarga.length));
    const datos = estado.archivos.get(id);
    if (datos) return { estado: 200, base64: datos.toString('base64'), cabeceras: { 'Content-Type': 'application/octet-stream' } };
    return { estado: 404, cuerpo: { error: 'No existe ese archivo' } };
  }
  return { estado: 404, cuerpo: { error: 'No existe' } };
}

// ------------------------------------------------------------------ server
const servidorHttp = http.createServer(async (req, res) => {
  const cuerpo = await leerCuerpo(req);
  const url = new URL(req.url, 'http://127.0.0.1');
  // The raw path, as the client sent it (percent-encoding kept), is what a test checks.
  const ruta = req.url.split('?')[0];
  if (url.pathname.startsWith('/__control/')) {
    let datos = null;
    try { datos = cuerpo.length ? JSON.parse(cuerpo.toString('utf8')) : null; } catch (e) { return enviarJson(res, 400, { error: 'JSON' }); }
    return control(req.method, url.pathname.slice('/__control/'.length), datos, res);
  }
  anotar(estado.peticiones, () => ({
    metodo: req.method, ruta, consulta: url.search, cabeceras: req.headers,
    cuerpo: cuerpo.toString('utf8'),
  }));
  const r = respuestaGuionada(req.method, ruta) || respuestaPorDefecto(req.method, ruta, cuerpo, req.headers);
  responderGuion(res, r);
});

const io = new Server(servidorHttp, {
  path: '/socket.io',
  maxHttpBufferSize: 64 * 1024 * 1024,
  pingInterval: opcion('--ping-intervalo', 25000),
  pingTimeout: opcion('--ping-espera', 20000),
  transports: ['websocket'],
});

io.use((socket, next) => {
  const token = socket.handshake.auth && socket.handshake.auth.token;
  if (estado.tokens.has(token)) return next();
  const e = new Error('Token inválido');
  next(e);
});

// 24 kHz signed 16-bit little-endian sine (440 Hz, half scale), `n` bytes, cut into the
// requested chunk length (odd lengths split samples between chunks).
function pcmSeno(bytes) {
  const muestras = Math.ceil(bytes / 2);
  const b = Buffer.alloc(muestras * 2);
  for (let i = 0; i < muestras; i++) b.writeInt16LE(Math.round(16384 * Math.sin(2 * Math.PI * 440 * i / 24000)), 2 * i);
  return b.subarray(0, bytes);
}

function hablar(socket, datos, ack) {
  const h = estado.voz.habla;
  const id = datos && typeof datos.id === 'string' ? datos.id : '';
  const todo = pcmSeno(h.trozos * h.bytes);
  const trozos = [];
  for (let i = 0; i < h.trozos; i++) trozos.push(todo.subarray(i * h.bytes, (i + 1) * h.bytes).toString('base64'));
  const acusar = () => { if (!h.sinRespuesta) ack({ ok: !!h.ok }); };
  if (h.ackAntes) acusar();
  let i = 0;
  const siguiente = () => {
    if (i < trozos.length) {
      socket.emit('voice:tts-trozo', { id, audio: trozos[i++] });
      if (h.retrasoTrozo) setTimeout(siguiente, h.retrasoTrozo); else siguiente();
      return;
    }
    if (!h.ackAntes) { if (h.retrasoAck) setTimeout(acusar, h.retrasoAck); else acusar(); }
  };
  siguiente();
}

io.on('connection', (socket) => {
  socket.onAny((evento, ...args) => {
    let ack = null;
    if (args.length && typeof args[args.length - 1] === 'function') ack = args.pop();
    anotar(estado.eventos, () => ({ evento, args: aJson(args), conAck: !!ack, socket: socket.id }));
    if (ack && !estado.acks.has(evento) && evento === 'voice:tts-stream') return hablar(socket, args[0], ack);
    if (ack && !estado.acks.has(evento) && evento === 'voice:audio') {
      const t = estado.voz.transcripcion;
      const datos = args[0] || {};
      if (t.sinRespuesta) return;
      // A take that is not a binary attachment or not declared as m4a is refused.
      const valida = Buffer.isBuffer(datos.audio) && datos.mimeType === 'audio/m4a';
      const respuesta = valida ? Object.assign({}, t) : { ok: false, error: 'audio inválido' };
      delete respuesta.retraso; delete respuesta.sinRespuesta;
      if (t.retraso) setTimeout(() => ack(respuesta), t.retraso); else ack(respuesta);
      return;
    }
    if (ack) {
      const guion = estado.acks.get(evento);
      if (guion && guion.sinRespuesta) return;
      let respuesta;
      let retraso = guion && guion.retraso;
      if (guion && Array.isArray(guion.cola) && guion.cola.length) {
        // One scripted reply per request: [args...] or {respuesta: [args...], retraso}.
        const siguiente = guion.cola.shift();
        if (Array.isArray(siguiente)) respuesta = deJson(siguiente);
        else { respuesta = deJson(siguiente.respuesta || []); retraso = siguiente.retraso; }
      } else if (guion && guion.respuesta) respuesta = deJson(guion.respuesta);
      else respuesta = (estado.chat && chatAck(evento, args[0] || {})) ||
        [{ ok: true, evento, eco: args[0] === undefined ? null : args[0] }];
      const responder = () => ack(...respuesta);
      if (retraso) setTimeout(responder, retraso); else responder();
    }
  });
});

// The owner's chat: a history, the agent the conversation is with, and "chat:send" that stores
// the owner's message and pushes it back as "messages:new" (one message per file).
function chatAck(evento, datos) {
  const chat = estado.chat;
  if (evento === 'chats:messages') return [{ ok: true, messages: chat.mensajes.slice(-(datos.limit || 60)) }];
  if (evento === 'chat:agente') return [chat.agente ? { ok: true, agente: chat.agente } : { ok: true }];
  if (evento !== 'chat:send') return null;
  const texto = typeof datos.text === 'string' ? datos.text : '';
  if (texto === '/zentu' || texto.startsWith('@')) {
    chat.agente = texto === '/zentu' ? null : texto.slice(1);
    io.emit('chat:agente', chat.agente ? { agente: chat.agente } : {});
    return [{ ok: true }];
  }
  const archivos = Array.isArray(datos.files) ? datos.files : datos.file ? [datos.file] : [];
  if (Array.isArray(datos.files) && !chat.conMessageIds) return [{ ok: true }];
  const ids = [];
  const piezas = archivos.length ? archivos : [null];
  piezas.forEach((a, i) => {
    const id = 'srv-' + chat.siguiente++;
    const m = { messageId: id, text: i === 0 ? texto : '', fromMe: false, timestamp: new Date().toISOString(), type: 'text' };
    if (a) {
      m.type = String(a.mimeType || '').startsWith('image/') ? 'image' : 'document';
      m.fileName = a.name;
      m.mediaUrl = '/api/media/' + encodeURIComponent(id);
      estado.archivos.set(id, Buffer.isBuffer(a.buffer) ? a.buffer : Buffer.alloc(0));
    }
    chat.mensajes.push(m);
    ids.push(id);
    io.emit('messages:new', { phone: 'dashboard', message: m });
  });
  return [Array.isArray(datos.files) ? { ok: true, messageIds: ids } : { ok: true, messageId: ids[0] }];
}

async function control(metodo, que, d, res) {
  switch (que) {
    case 'respuesta': // {metodo, ruta, estado, cuerpo|texto|base64, retraso, cabeceras, veces, cortar, cortarTras}
      if (!estado.respuestas.has(d.metodo + ' ' + d.ruta)) estado.respuestas.set(d.metodo + ' ' + d.ruta, []);
      estado.respuestas.get(d.metodo + ' ' + d.ruta).push(d);
      return enviarJson(res, 200, { ok: true });
    case 'respuestas': // DELETE forgets every scripted reply
      estado.respuestas = new Map();
      return enviarJson(res, 200, { ok: true });
    case 'peticiones':
      if (metodo === 'DELETE') estado.peticiones = [];
      return enviarJson(res, 200, estado.peticiones);
    case 'eventos':
      if (metodo === 'DELETE') estado.eventos = [];
      return enviarJson(res, 200, estado.eventos);
    case 'registro': { // {maximo}: keep only the last N requests and events (0: none); null: all
      const m = d && typeof d.maximo === 'number' && d.maximo >= 0 ? Math.floor(d.maximo) : Infinity;
      estado.maximoRegistro = m;
      if (estado.peticiones.length > m) estado.peticiones.splice(0, estado.peticiones.length - m);
      if (estado.eventos.length > m) estado.eventos.splice(0, estado.eventos.length - m);
      return enviarJson(res, 200, { ok: true });
    }
    case 'token': // {token} adds an accepted token; {tokens: [...]} replaces them
      if (Array.isArray(d.tokens)) estado.tokens = new Set(d.tokens); else estado.tokens.add(d.token);
      return enviarJson(res, 200, { ok: true });
    case 'codigo': // {codigo, respuesta}
      estado.codigos.set(d.codigo, d.respuesta);
      return enviarJson(res, 200, { ok: true });
    case 'archivo': // {id, $bin-encoded datos}
      estado.archivos.set(d.id, deJson(d.datos));
      return enviarJson(res, 200, { ok: true });
    case 'chat': // {mensajes, agente, conMessageIds}: turns the owner's chat on, or resets it
      estado.chat = { mensajes: d.mensajes || [], agente: d.agente || null, conMessageIds: d.conMessageIds !== false, siguiente: 1 };
      return enviarJson(res, 200, { ok: true });
    case 'ack': // {evento, respuesta: [args...], cola: [[args...], ...], retraso, sinRespuesta}
      estado.acks.set(d.evento, d);
      return enviarJson(res, 200, { ok: true });
    case 'emitir': // {evento, args}
      io.emit(d.evento, ...deJson(d.args || []));
      return enviarJson(res, 200, { ok: true, sockets: io.sockets.sockets.size });
    case 'pedir': { // {evento, args, espera} -> the client's acknowledgement
      const sockets = [...io.sockets.sockets.values()];
      if (!sockets.length) return enviarJson(res, 200, { ok: false, error: 'sin clientes' });
      try {
        const respuesta = await sockets[0].timeout(d.espera || 5000).emitWithAck(d.evento, ...deJson(d.args || []));
        return enviarJson(res, 200, { ok: true, respuesta: aJson([respuesta]) });
      } catch (e) {
        return enviarJson(res, 200, { ok: false, error: 'sin respuesta' });
      }
    }
    case 'voz': // {transcripcion?, habla?}: merged into the voice side's script
      if (d.transcripcion) estado.voz.transcripcion = d.transcripcion;
      if (d.habla) estado.voz.habla = Object.assign({}, estado.voz.habla, d.habla);
      return enviarJson(res, 200, { ok: true });
    case 'desconectar': // the server ends every live-channel connection ("41")
      io.sockets.sockets.forEach((s) => s.disconnect(true));
      return enviarJson(res, 200, { ok: true });
    case 'sockets':
      return enviarJson(res, 200, { conectados: io.sockets.sockets.size });
    default:
      return enviarJson(res, 404, { error: 'control desconocido: ' + que });
  }
}

servidorHttp.listen(opcion('--puerto', 0), '127.0.0.1', () => {
  process.stdout.write('puerto ' + servidorHttp.address().port + '\n');
});

process.on('SIGTERM', () => { io.close(); servidorHttp.close(); process.exit(0); });

'use strict';
// Stand-in Zentu service for the tests. One loopback HTTP port serves:
//   - the REST paths the program calls, with replies a test can script per method and path;
//   - the live channel (Socket.IO 4) at the socket path that "/api/dudas/canal" names;
//   - a control API under "/__control/" through which a test scripts replies, reads what the
//     program sent, pushes events and makes requests of its own.
// Binary data crosses the control API as {"$bin": "<base64>"}.
// With "--negocio DATOS --estado CARPETA" it is the demo's service: the business of the data file
// (negocio.js) answers the service's paths and events, only the paired token is let in, and the
// state is kept in the folder across restarts. Each line it then writes after "puerto N" is one
// JSON object for the demo's console: {"aviso": text} or {"desenlazado": true}.
// Usage: node servidor.js [--puerto N] [--ping-intervalo MS] [--ping-espera MS] [--negocio F --estado D]
// Prints "puerto N" on standard output once it listens.

const fs = require('fs');
const http = require('http');
const { Server } = require('socket.io');
const { Negocio } = require('./negocio');

const argumentos = process.argv.slice(2);
function texto(nombre) {
  const i = argumentos.indexOf(nombre);
  return i >= 0 && i + 1 < argumentos.length ? argumentos[i + 1] : undefined;
}
function opcion(nombre, porDefecto) {
  const t = texto(nombre);
  return t === undefined ? porDefecto : Number(t);
}

const estado = {
  tokens: new Set(['token-bueno']),
  respuestas: new Map(),     // "GET /ruta" -> [{estado, cuerpo|texto, retraso, cabeceras, veces}]
  archivos: new Map(),       // id -> {datos: Buffer, mime}
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

// ------------------------------------------------------------------ the service's paths
// Without a business (the tests) only the connection's own paths exist and every token the test
// accepted is let in; the demo's business adds the rest and lets in only the paired token.
let negocio = null;
// The burst the control "rafaga" is pushing, if any.
const rafaga = { reloj: null, emitidos: 0, total: 0, segundos: 0 };

const tokenValido = (t) => (negocio ? negocio.tokenValido(t) : estado.tokens.has(t));
const ok = (cuerpo) => ({ estado: 200, cuerpo });
const noExiste = { estado: 404, cuerpo: { error: 'No existe' } };
const sinSesion = { estado: 401, cuerpo: { error: 'sin sesión' } };
// A path of the business: its method of that name answers; without a business the path is the
// test's reply (or does not exist).
const delNegocio = (metodo, sinNegocio) => (p) => (negocio ? negocio[metodo](p) : sinNegocio ? sinNegocio(p) : noExiste);

function buscarArchivo(id) {
  if (negocio) return negocio.archivo(id);
  return estado.archivos.get(id) || null;
}
function guardarArchivo(id, datos, mime, nombre) {
  if (negocio) negocio.guardarArchivo(id, datos, mime, nombre);
  else estado.archivos.set(id, { datos, mime });
}
function servirArchivo(id) {
  const a = buscarArchivo(id);
  if (!a) return { estado: 404, cuerpo: { error: 'No existe ese archivo' } };
  return { estado: 200, base64: a.datos.toString('base64'), cabeceras: { 'Content-Type': a.mime || 'application/octet-stream' } };
}

function canjear(p) {
  const d = p.json;
  const canje = d && typeof d.codigo === 'string' && estado.codigos.get(d.codigo);
  if (!canje) return { estado: 400, cuerpo: { error: 'Código vencido o ya usado' } };
  estado.codigos.delete(d.codigo);
  return ok(negocio ? negocio.canjear(d) : canje);
}

// A file marker's path travels as base64url; the business keeps its files by their last name.
function verArchivo(p) {
  const ruta = Buffer.from(p.ruta.replace(/-/g, '+').replace(/_/g, '/'), 'base64').toString('utf8');
  return servirArchivo(ruta.split('/').filter(Boolean).pop() || '');
}

// Who may call: "libre" anyone; "token" the bearer token; "enlace" the bearer token or, as the
// chat's attachment addresses carry it, the query parameter "token".
const rutas = [
  // method    path                                     who       reply
  ['POST',   '/api/pairing/canjear',                   'libre',  canjear],
  ['DELETE', '/api/pairing/este',                      'token',  delNegocio('desenlazar')],
  ['GET',    '/api/dudas/canal',                       'token',  () => ok({ path: '/socket.io' })],
  ['GET',    '/api/dudas',                             'token',  delNegocio('listaDudas')],
  ['POST',   '/api/dudas/:id/responder',               'token',  delNegocio('responderDuda')],
  ['POST',   '/api/dudas/:id/descartar',               'token',  delNegocio('descartarDuda')],
  ['POST',   '/api/dudas/:id/sin-contestar',           'token',  delNegocio('sinContestar')],
  ['GET',    '/api/pendientes/permisos',               'token',  delNegocio('listaPermisos')],
  ['POST',   '/api/pendientes/permisos/:id',           'token',  delNegocio('decidirPermiso')],
  ['GET',    '/api/agentes',                           'token',  delNegocio('listaAgentes')],
  ['PATCH',  '/api/agentes/:id',                       'token',  delNegocio('cambiarAgente')],
  ['GET',    '/api/pulso',                             'token',  delNegocio('pulso')],
  ['GET',    '/api/preferences/llamadas-de-agentes',   'token',  delNegocio('leerLlamadas')],
  ['PATCH',  '/api/preferences/llamadas-de-agentes',   'token',  delNegocio('cambiarLlamadas')],
  ['GET',    '/api/v1/llamada/realtime/token',         'token',  delNegocio('tokenDeLlamada',
    () => ({ token: 'token-realtime', modelo: 'gpt-realtime', llamadaId: 'llamada-1' }))],
  ['POST',   '/api/v1/llamada/realtime/tool',          'token',  () => ({ resultado: 'Hecho.' })],
  ['POST',   '/api/v1/llamada/realtime/uso',           'token',  () => ({ ok: true })],
  ['POST',   '/api/v1/llamada/fin',                    'token',  delNegocio('finDeLlamada', () => ({ ok: true }))],
  ['GET',    '/api/files/download/:id',                'token',  (p) => servirArchivo(p.id)],
  ['GET',    '/api/media/:id',                         'enlace', (p) => servirArchivo(p.id)],
  ['GET',    '/api/files/view/:ruta',                  'enlace', verArchivo],
].map(([metodo, patron, quien, responder]) => {
  const nombres = [];
  const expresion = new RegExp('^' + patron.replace(/:(\w+)/g, (_, n) => { nombres.push(n); return '([^/]+)'; }) + '$');
  return { metodo, expresion, nombres, quien, responder };
});

// The service's reply to a request that no test scripted.
function respuestaDelServicio(metodo, ruta, consulta, crudo, cabeceras) {
  const r = rutas.find((x) => x.metodo === metodo && x.expresion.test(ruta));
  if (!r) return noExiste;
  const a = cabeceras['authorization'] || '';
  const portador = a.startsWith('Bearer ') ? a.slice(7) : null;
  const pase = r.quien === 'libre' || tokenValido(portador) || (r.quien === 'enlace' && tokenValido(consulta.get('token')));
  if (!pase) return sinSesion;
  const p = { consulta, json: null };
  const valores = r.expresion.exec(ruta).slice(1);
  try {
    r.nombres.forEach((n, i) => { p[n] = decodeURIComponent(valores[i]); });
  } catch (e) {
    return noExiste;
  }
  try { p.json = crudo.length ? JSON.parse(crudo.toString('utf8')) : null; } catch (e) { p.json = null; }
  // A reply is {estado, cuerpo|base64, cabeceras}, or the body of a 200.
  const respuesta = r.responder(p);
  return respuesta && typeof respuesta.estado === 'number' ? respuesta : ok(respuesta);
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
  const r = respuestaGuionada(req.method, ruta) || respuestaDelServicio(req.method, ruta, url.searchParams, cuerpo, req.headers);
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
  if (tokenValido(token)) return next();
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
  // The business tells a program that connects how its credits stand.
  if (negocio) socket.emit('dashboard:patch', { creditos: negocio.creditos() });
  socket.onAny((evento, ...args) => {
    let ack = null;
    if (args.length && typeof args[args.length - 1] === 'function') ack = args.pop();
    anotar(estado.eventos, () => ({ evento, args: aJson(args), conAck: !!ack, socket: socket.id }));
    if (negocio) negocio.oir(evento, args[0] || {});
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
    if (negocio) negocio.guardar();
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
      // No "mediaUrl": the program then fetches "/api/media/" + id with the account's token.
      m.fileName = a.name;
      guardarArchivo(id, Buffer.isBuffer(a.buffer) ? a.buffer : Buffer.alloc(0), String(a.mimeType || 'application/octet-stream'), m.fileName);
    }
    chat.mensajes.push(m);
    ids.push(id);
    io.emit('messages:new', { phone: 'dashboard', message: m });
  });
  // The business's agent answers what the owner wrote.
  if (negocio) {
    negocio.guardar();
    negocio.mensajeDeAgente(negocio.respuestaDelChat(archivos.map((a) => String(a.name || 'el archivo'))));
  }
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
    case 'codigo': // {codigo, respuesta}; with the business, the business answers
      estado.codigos.set(d.codigo, d.respuesta || {});
      return enviarJson(res, 200, { ok: true });
    case 'archivo': // {id, $bin-encoded datos, mime}
      estado.archivos.set(d.id, { datos: deJson(d.datos), mime: d.mime });
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
    case 'rafaga': { // {evento, lista: [[args...], ...], porSegundo}: pushed here at a steady pace
      // Each packet goes at its own time from the start, so a late tick catches up instead of
      // slowing the whole burst; GET "rafaga" tells how far it got.
      if (metodo === 'GET') return enviarJson(res, 200, { emitidos: rafaga.emitidos, total: rafaga.total, segundos: rafaga.segundos });
      clearInterval(rafaga.reloj);
      const lista = d.lista || [];
      const paso = 1000 / (d.porSegundo || 100);
      const inicio = process.hrtime.bigint();
      Object.assign(rafaga, { emitidos: 0, total: lista.length, segundos: 0 });
      const tanda = () => {
        const ms = Number(process.hrtime.bigint() - inicio) / 1e6;
        while (rafaga.emitidos < lista.length && rafaga.emitidos * paso <= ms)
          io.emit(d.evento, ...deJson(lista[rafaga.emitidos++]));
        if (rafaga.emitidos >= lista.length) {
          clearInterval(rafaga.reloj);
          rafaga.segundos = ms / 1000;
        }
      };
      rafaga.reloj = setInterval(tanda, Math.max(1, Math.min(10, paso)));
      tanda();
      return enviarJson(res, 200, { ok: true, total: lista.length });
    }
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
    case 'orden': // {orden}: one order of the demo's console -> {texto}
      if (!negocio) return enviarJson(res, 404, { error: 'sin negocio' });
      return enviarJson(res, 200, { texto: await negocio.orden(String((d && d.orden) || '')) });
    case 'enlazado': // whether the demo's business is paired
      return enviarJson(res, 200, { enlazado: !!negocio && negocio.enlazado() });
    default:
      return enviarJson(res, 404, { error: 'control desconocido: ' + que });
  }
}

// ------------------------------------------------------------------ the demo's business
if (texto('--negocio')) {
  if (!texto('--estado')) throw new Error('--negocio necesita --estado CARPETA');
  const decir = (o) => process.stdout.write(JSON.stringify(o) + '\n');
  const canal = {
    emitir: (evento, datos) => io.emit(evento, datos),
    conectados: () => io.sockets.sockets.size,
    pedir: async (evento, datos) => {
      const s = [...io.sockets.sockets.values()][0];
      if (!s) return null;
      try { return await s.timeout(20000).emitWithAck(evento, datos); } catch (e) { return null; }
    },
  };
  negocio = new Negocio(JSON.parse(fs.readFileSync(texto('--negocio'), 'utf8')), texto('--estado'), canal, decir);
  estado.chat = negocio.estado.chat;
  estado.chat.conMessageIds = true;
  estado.voz.transcripcion = { ok: true, text: negocio.datos.transcripcion };
}

servidorHttp.listen(opcion('--puerto', 0), '127.0.0.1', () => {
  process.stdout.write('puerto ' + servidorHttp.address().port + '\n');
});

process.on('SIGTERM', () => { io.close(); servidorHttp.close(); process.exit(0); });

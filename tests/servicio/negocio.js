'use strict';
// The demo business behind the stand-in service: the owner's pairing, open questions, permission
// requests, agents, day, credits, calls preference and chat. It starts from a data file
// (negocio.json) and keeps its state in a folder, so that a paired program finds everything as it
// left it after the demo restarts. What the owner does arrives here from the service's routes;
// what the business does by itself (a new question, a call...) comes from the console's orders.

const fs = require('fs');
const path = require('path');
const crypto = require('crypto');

const ahora = () => new Date().toISOString();
const haceMinutos = (m) => new Date(Date.now() - (m || 0) * 60000).toISOString();
// Items of the data file give their age in "minutos"; the business keeps a date instead.
function fechado(item, clave) {
  const copia = Object.assign({}, item);
  delete copia.minutos;
  copia[clave] = haceMinutos(item.minutos);
  return copia;
}
const error = (estado, texto) => ({ estado, cuerpo: { error: texto } });
// An agent's name as the program shows it: "atencion_cliente" is "Atencion cliente".
function nombreVisible(agente) {
  const n = String(agente || 'zentu').replace(/_/g, ' ');
  return n.charAt(0).toUpperCase() + n.slice(1);
}

class Negocio {
  // `canal` reaches the program: emitir(evento, datos), conectados(), pedir(evento, datos).
  // `decir(objeto)` tells the demo's console: {aviso: text} what happened, {desenlazado: true}.
  constructor(datos, carpeta, canal, decir) {
    this.datos = datos;
    this.carpeta = carpeta;
    this.canal = canal;
    this.decir = decir;
    this.estado = this.leer() || this.inicial();
    this.guardar();
  }

  // ---------------------------------------------------------------- keeping the state
  inicial() {
    const d = this.datos;
    return {
      enlace: null,   // {token, instalacion, dispositivo} once the program paired
      dudas: d.dudas.map((x) => fechado(x, 'created_at')),
      permisos: d.permisos.map((x) => fechado(x, 'created_at')),
      agentes: d.agentes.map((a) => Object.assign({}, a)),
      actividad: d.pulso.actividad.map((x) => fechado(x, 'cuando')),
      sinCreditos: false,
      llamadas: d.llamadasDeAgentes,
      chat: { mensajes: d.chat.map((m) => fechado(m, 'timestamp')), agente: null, siguiente: 1 },
      archivos: {},   // files the owner sent: id -> {nombre, mime}; their bytes in "archivos/"
      siguienteId: 100,
      llamadasHechas: 0,
      turno: {},      // how far each list of the data file's script has gone
    };
  }

  leer() {
    try {
      return JSON.parse(fs.readFileSync(path.join(this.carpeta, 'estado.json'), 'utf8'));
    } catch (e) {
      return null;
    }
  }

  guardar() {
    fs.mkdirSync(path.join(this.carpeta, 'archivos'), { recursive: true, mode: 0o700 });
    const destino = path.join(this.carpeta, 'estado.json');
    fs.writeFileSync(destino + '.tmp', JSON.stringify(this.estado, null, 1), { mode: 0o600 });
    fs.renameSync(destino + '.tmp', destino);
  }

  // The next entry of one of the data file's lists; the last one repeats.
  siguiente(lista, de) {
    const i = this.estado.turno[lista] || 0;
    this.estado.turno[lista] = i + 1;
    return de[Math.min(i, de.length - 1)];
  }

  nuevoId() { return this.estado.siguienteId++; }
  avisar(texto) { this.decir({ aviso: texto }); }

  hecho(texto, agente) {
    this.estado.actividad.unshift({ texto, agente: agente || 'zentu', cuando: ahora() });
    this.estado.actividad.splice(20);
  }

  // ---------------------------------------------------------------- pairing
  canjear(datos) {
    const token = 'demo-' + crypto.randomBytes(16).toString('hex');
    this.estado.enlace = { token, instalacion: String(datos.instalacion || ''), dispositivo: String(datos.dispositivo || '') };
    this.guardar();
    this.avisar('Zentu AI se enlazó' + (datos.dispositivo ? ' (' + datos.dispositivo + ')' : '') + '.');
    return { token, propietario: this.datos.cuenta.propietario, nombre: this.datos.cuenta.nombre };
  }

  tokenValido(token) { return !!this.estado.enlace && typeof token === 'string' && token === this.estado.enlace.token; }
  enlazado() { return !!this.estado.enlace; }

  desenlazar() {
    this.estado.enlace = null;
    this.guardar();
    this.avisar('Zentu AI se desenlazó: su token ya no vale.');
    this.decir({ desenlazado: true });
    return { ok: true };
  }

  // ---------------------------------------------------------------- questions
  listaDudas() { return { dudas: this.estado.dudas }; }

  quitarDuda(id) {
    const i = this.estado.dudas.findIndex((d) => d.id === Number(id));
    return i < 0 ? null : this.estado.dudas.splice(i, 1)[0];
  }

  contarDudas() { this.canal.emitir('dudas:cambiaron', { total: this.estado.dudas.length, dudas: this.estado.dudas }); }

  // The routes' replies take the request {id, json, consulta} and give the body of a 200 or
  // {estado, cuerpo}.
  responderDuda({ id, json: cuerpo }) {
    const texto = cuerpo && typeof cuerpo.respuesta === 'string' ? cuerpo.respuesta.trim() : '';
    if (texto.length < 2) return error(400, 'Escribe una respuesta.');
    const duda = this.quitarDuda(id);
    if (!duda) return error(404, 'Esa duda ya no está abierta.');
    this.hecho('Le contestó a ' + (duda.cliente || 'su cliente') + ' con tu decisión: «' + texto + '»', duda.agent_name);
    this.guardar();
    this.contarDudas();
    this.avisar('Respondiste la duda ' + id + ': «' + texto + '»');
    return { porPlantilla: false, sinPlantilla: false };
  }

  descartarDuda({ id }) {
    const duda = this.quitarDuda(id);
    if (!duda) return error(404, 'Esa duda ya no está abierta.');
    this.guardar();
    this.contarDudas();
    this.avisar('Descartaste la duda ' + id + '.');
    return { ok: true };
  }

  sinContestar({ id, json: cuerpo }) {
    const motivo = cuerpo && typeof cuerpo.motivo === 'string' ? cuerpo.motivo : '';
    this.avisar('La llamada por la duda ' + id + ' quedó sin contestar (' + motivo + ').');
    return { ok: true };
  }

  // ---------------------------------------------------------------- permission requests
  listaPermisos() { return this.estado.permisos; }

  decidirPermiso({ id, json: cuerpo }) {
    if (!cuerpo || typeof cuerpo.aprobar !== 'boolean') return error(400, 'Falta «aprobar».');
    const i = this.estado.permisos.findIndex((p) => p.id === Number(id));
    if (i < 0) return error(404, 'Ese permiso ya no está pendiente.');
    const p = this.estado.permisos.splice(i, 1)[0];
    const texto = typeof cuerpo.texto === 'string' ? cuerpo.texto : p.texto;
    if (cuerpo.aprobar) this.hecho('Le escribió a ' + (p.destinatario || p.telefono) + ': «' + texto + '»', p.agent_name);
    this.guardar();
    this.canal.emitir('dashboard:patch', { inbox: true });
    this.avisar((cuerpo.aprobar ? 'Aprobaste' : 'Rechazaste') + ' el permiso ' + id +
      (cuerpo.aprobar && typeof cuerpo.texto === 'string' ? ', con tu texto: «' + cuerpo.texto + '»' : '') + '.');
    return { ok: true };
  }

  // ---------------------------------------------------------------- agents, day, credits, calls
  listaAgentes() { return { agentes: this.estado.agentes }; }

  cambiarAgente({ id, json: cuerpo }) {
    if (!cuerpo || typeof cuerpo.activo !== 'boolean') return error(400, 'Falta «activo».');
    const agente = this.estado.agentes.find((a) => a.id === Number(id));
    if (!agente) return error(404, 'No existe ese agente.');
    agente.is_active = cuerpo.activo;
    this.guardar();
    this.avisar((cuerpo.activo ? 'Reanudaste a ' : 'Pausaste a ') + nombreVisible(agente.name) + '.');
    return { agente };
  }

  pulso() {
    const p = this.datos.pulso;
    return { hoy: p.hoy, ayer: p.ayer, solas: p.solas, semana: p.semana, actividad: this.estado.actividad };
  }

  creditos() {
    const c = this.datos.creditos;
    return this.estado.sinCreditos ? Object.assign({}, c, { usados: c.cupo, restantes: 0 }) : c;
  }

  leerLlamadas() { return { enabled: this.estado.llamadas }; }

  cambiarLlamadas({ json: cuerpo }) {
    if (!cuerpo || typeof cuerpo.enabled !== 'boolean') return error(400, 'Falta «enabled».');
    this.estado.llamadas = cuerpo.enabled;
    this.guardar();
    this.avisar('Llamadas de agentes: ' + (cuerpo.enabled ? 'encendidas' : 'apagadas') + '.');
    return { enabled: this.estado.llamadas };
  }

  // The realtime token of a call; without credits the service refuses it.
  tokenDeLlamada({ consulta }) {
    if (this.estado.sinCreditos) return error(402, 'Sin créditos');
    this.estado.llamadasHechas += 1;
    this.guardar();
    this.decir({ llamada: this.estado.llamadasHechas });
    const agente = consulta.get('agente');
    this.avisar('Zentu AI abre una llamada' + (agente ? ' con ' + nombreVisible(agente) + ' por la duda ' + consulta.get('consulta') : '') + '.');
    return { token: 'rt-' + crypto.randomBytes(8).toString('hex'), modelo: 'gpt-realtime', llamadaId: 'llamada-' + this.estado.llamadasHechas };
  }

  finDeLlamada({ json: cuerpo }) {
    const turnos = cuerpo && Array.isArray(cuerpo.turnos) ? cuerpo.turnos.length : 0;
    this.avisar('La llamada terminó: ' + (cuerpo && cuerpo.segundos) + ' s, ' + turnos + ' turnos.');
    return { ok: true };
  }

  // What the program says on the live channel, as far as the console shows it.
  oir(evento, datos) {
    if (evento === 'mac:hola') this.avisar('Zentu AI está conectado.');
    else if (evento === 'chat:send' && typeof datos.text === 'string' && datos.text) this.avisar('Chat: «' + datos.text + '»');
    else if (evento === 'chat:send' && (datos.file || datos.files)) this.avisar('Chat: te llegó un archivo.');
    else if (evento === 'chats:reply') this.avisar('Le escribiste al cliente ' + datos.phone + ': «' + datos.text + '»');
    else if (evento === 'chats:takeover') this.avisar('Tomaste la conversación con ' + datos.phone + '.');
    else if (evento === 'voice:audio') this.avisar('Nota de voz recibida.');
  }

  // ---------------------------------------------------------------- the owner's chat
  // What the chat's agent answers to the owner's message, in turn.
  respuestaDelChat(archivos) {
    if (archivos.length) return this.datos.respuestaArchivo.replace('%s', archivos.join('», «'));
    return this.siguiente('respuestas', this.datos.respuestas);
  }

  // ---------------------------------------------------------------- files
  // A file the owner sent (its bytes kept in the folder), or one of the business's own files.
  guardarArchivo(id, datos, mime, nombre) {
    fs.writeFileSync(this.rutaArchivo(id), datos, { mode: 0o600 });
    this.estado.archivos[id] = { nombre, mime };
    this.guardar();
  }

  archivo(id) {
    const propio = Object.prototype.hasOwnProperty.call(this.datos.archivos, id) && this.datos.archivos[id];
    if (propio) return { datos: Buffer.from(propio.texto, 'utf8'), mime: propio.mime };
    const a = Object.prototype.hasOwnProperty.call(this.estado.archivos, id) && this.estado.archivos[id];
    if (!a) return null;
    try {
      return { datos: fs.readFileSync(this.rutaArchivo(id)), mime: a.mime };
    } catch (e) {
      return null;
    }
  }

  // Ids come from the wire: the file's name on disk is a digest, never a path.
  rutaArchivo(id) { return path.join(this.carpeta, 'archivos', crypto.createHash('sha256').update(String(id)).digest('hex')); }

  // ---------------------------------------------------------------- the console's orders
  ordenes() {
    return [
      ['llamar', 'un agente te llama por la duda más reciente'],
      ['colgar', 'el agente retira esa llamada'],
      ['duda', 'un agente te hace una pregunta nueva'],
      ['permiso', 'un agente pide permiso para escribirle a un cliente'],
      ['mensaje', 'un agente te escribe en el chat'],
      ['cliente', 'un cliente pide hablar con una persona'],
      ['sin-creditos', 'se acaban los créditos del mes'],
      ['creditos', 'vuelven los créditos'],
      ['abrir', 'el servicio le pide a tu equipo que abra la lista de precios'],
      ['ayuda', 'esta lista'],
    ];
  }

  async orden(linea) {
    const nombre = linea.trim();
    if (!nombre) return '';
    const hacer = {
      ayuda: () => 'Órdenes:\n' + this.ordenes().map(([n, d]) => '  ' + n.padEnd(13) + d).join('\n'),
      llamar: () => this.llamar(),
      colgar: () => this.colgar(),
      duda: () => this.nuevaDuda(),
      permiso: () => this.nuevoPermiso(),
      mensaje: () => this.mensajeDeAgente(),
      cliente: () => this.clienteEsperando(),
      'sin-creditos': () => this.cambiarCreditos(true),
      creditos: () => this.cambiarCreditos(false),
      abrir: () => this.abrirEnElEquipo(),
    }[nombre];
    if (!hacer) return 'No conozco «' + nombre + '». Escribe «ayuda» para ver las órdenes.';
    const desconectado = nombre !== 'ayuda' && this.canal.conectados() === 0;
    const texto = await hacer();
    return desconectado ? texto + '\n(Zentu AI no está conectado ahora: no le llega el aviso; lo pendiente lo verá al conectarse.)' : texto;
  }

  llamar() {
    if (!this.estado.llamadas) return 'Tienes apagadas las llamadas de agentes (Ajustes de Zentu AI → Llamadas): nadie llama.';
    const duda = this.estado.dudas[this.estado.dudas.length - 1];
    if (!duda) return 'No hay dudas abiertas por las que llamar: escribe «duda» primero.';
    this.llamando = duda.id;
    this.canal.emitir('llamada:entrante', { consultaId: duda.id, pregunta: duda.question, agente: duda.agent_name });
    return nombreVisible(duda.agent_name) + ' te llama por la duda ' + duda.id + '. Contesta con Intro o el botón verde; «colgar» la retira.';
  }

  colgar() {
    if (this.llamando === undefined) return 'No hay ninguna llamada sonando.';
    this.canal.emitir('llamada:cancelada', { consultaId: this.llamando });
    this.llamando = undefined;
    return 'Llamada retirada.';
  }

  nuevaDuda() {
    const d = Object.assign({}, this.siguiente('dudas', this.datos.guion.dudas), { id: this.nuevoId(), created_at: ahora() });
    this.estado.dudas.push(d);
    this.guardar();
    this.canal.emitir('consultas:nueva', { id: d.id, agente: d.agent_name, pregunta: d.question, contexto: d.context || '', mostrarVentana: true });
    this.contarDudas();
    return nombreVisible(d.agent_name) + ' pregunta (duda ' + d.id + '): ' + d.question;
  }

  nuevoPermiso() {
    const p = Object.assign({}, this.siguiente('permisos', this.datos.guion.permisos), { id: this.nuevoId(), created_at: ahora() });
    this.estado.permisos.push(p);
    this.guardar();
    this.canal.emitir('dashboard:patch', { inbox: true });
    return nombreVisible(p.agent_name) + ' pide permiso para escribirle a ' + (p.destinatario || p.telefono) + ' (permiso ' + p.id + ').';
  }

  // An agent's message in the owner's chat, with its typing before it.
  mensajeDeAgente(texto) {
    const chat = this.estado.chat;
    const m = { messageId: 'srv-' + chat.siguiente++, fromMe: true, sender: chat.agente || 'zentu', type: 'text',
      text: texto || this.siguiente('mensajes', this.datos.guion.mensajes), timestamp: ahora() };
    chat.mensajes.push(m);
    this.guardar();
    this.canal.emitir('agent:status', { dashboard: true, status: 'processing' });
    setTimeout(() => {
      m.timestamp = ahora();
      this.canal.emitir('messages:new', { phone: 'dashboard', message: m });
      this.canal.emitir('agent:status', { dashboard: true, status: 'idle' });
    }, 1200);
    return nombreVisible(m.sender) + ' te escribe: ' + m.text;
  }

  clienteEsperando() {
    const c = this.siguiente('clientes', this.datos.guion.clientes);
    this.canal.emitir('chats:needs-human', { phone: c.phone, reason: c.reason });
    return 'Un cliente (' + c.phone.split('@')[0] + ') quiere hablar contigo: la notificación ofrece «Responder» y «Lo atiendo yo».';
  }

  cambiarCreditos(agotados) {
    this.estado.sinCreditos = agotados;
    this.guardar();
    this.canal.emitir('dashboard:patch', { creditos: this.creditos() });
    return agotados ? 'Se acabaron los créditos: las llamadas reciben «sin créditos».' : 'Volvieron los créditos del mes.';
  }

  async abrirEnElEquipo() {
    const nombre = Object.keys(this.datos.archivos)[0];
    const r = await this.canal.pedir('mac:accion', { accion: 'abrir', id: nombre, nombre });
    if (!r) return 'Zentu AI no contestó.';
    return r.ok ? 'Zentu AI abrió ' + r.ruta : 'Zentu AI no pudo abrirlo: ' + r.error;
  }
}

module.exports = { Negocio, nombreVisible };

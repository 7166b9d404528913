// The page: kurvix-check and the device code, compiled to WebAssembly, behind window.kurvix,
// and the companion's user interface on top of it.
(function () {
  'use strict';

  // ---- window.kurvix: the scripting interface ----------------------------------------------
  let wasm = null;
  const kurvix = {};
  kurvix.ready = createKurvixModule().then(function (module) {
    // Below 64 KiB the device takes a pointer for a resource id: such a build cannot run it.
    if (module._kurvix_static_data_start() < 0x10000) {
      throw new Error('This page was built with its data below 64 KiB, where the device cannot run.');
    }
    wasm = module;
    return kurvix;
  });
  window.kurvix = kurvix;

  function loaded() {
    if (wasm === null) throw new Error('kurvix is not ready yet: wait for kurvix.ready');
    return wasm;
  }

  function toBytes(bytes) {
    if (bytes instanceof Uint8Array) return bytes;
    if (bytes instanceof ArrayBuffer || Array.isArray(bytes)) return new Uint8Array(bytes);
    throw new TypeError('bytes must be a Uint8Array');
  }

  // Calls f with pointers to copies of the arguments in the module's memory: a Uint8Array
  // gives (pointer, length), a string its zero-terminated UTF-8.
  function withMemory(args, f) {
    const module = loaded();
    const pointers = [];
    const passed = [];
    try {
      for (const arg of args) {
        if (typeof arg === 'string') {
          const size = module.lengthBytesUTF8(arg) + 1;
          const pointer = module._malloc(size);
          pointers.push(pointer);
          module.stringToUTF8(arg, pointer, size);
          passed.push(pointer);
        } else {
          const pointer = module._malloc(Math.max(arg.length, 1));
          pointers.push(pointer);
          module.HEAPU8.set(arg, pointer);
          passed.push(pointer, arg.length);
        }
      }
      return f.apply(null, passed);
    } finally {
      pointers.forEach(function (pointer) { module._free(pointer); });
    }
  }

  function text(pointer) { return loaded().UTF8ToString(pointer); }

  // Exactly the object `kurvix-check --json NAME` prints for a file NAME with these bytes.
  kurvix.check = function (bytes, name) {
    const output = withMemory([name || 'Kurvix.ini', toBytes(bytes)], function (n, b, size) {
      return text(loaded()._kurvix_check(n, b, size));
    });
    return JSON.parse(output);
  };

  // kurvix-check takes up to nine digits for a key code. The dry run keeps a record of every
  // timer tick of a hold, so the page, whose memory ends at 2 GiB, tries holds of up to an
  // hour and up to 100 presses at a time (kurvix-check itself needs about 420 MB for a day).
  const MOST_KEY = 999999999;
  const MOST_MS = 3600000;
  const MOST_PRESSES = 100;

  // Exactly the array `kurvix-check --json NAME --press KEY:MS ...` prints.
  kurvix.press = function (bytes, presses, name) {
    if (!Array.isArray(presses) || presses.length === 0 || presses.length > MOST_PRESSES) {
      throw new TypeError('presses must be an array of 1 to ' + MOST_PRESSES + ' presses [key, ms]');
    }
    const words = presses.map(function (press) {
      const whole = function (n, most) { return Number.isInteger(n) && n >= 0 && n <= most; };
      if (!Array.isArray(press) || press.length !== 2 || !whole(press[0], MOST_KEY) || !whole(press[1], MOST_MS)) {
        throw new TypeError('a press must be [key, ms]: a key code from 0 to ' + MOST_KEY +
          ' and a hold of 0 to ' + MOST_MS + ' ms');
      }
      return press[0] + ':' + press[1];
    });
    const output = withMemory([name || 'Kurvix.ini', toBytes(bytes), words.join(' ')],
      function (n, b, size, p) { return text(loaded()._kurvix_press(n, b, size, p)); });
    return JSON.parse(output);
  };

  // Where each line the device reads begins (code units behind the byte-order mark).
  kurvix.lines = function (bytes) {
    return JSON.parse(withMemory([toBytes(bytes)], function (b, size) {
      return text(loaded()._kurvix_lines(b, size));
    }));
  };

  // The status window's painting on the simulated device with this configuration.
  kurvix.statusWindow = function (bytes, lastKey) {
    return JSON.parse(withMemory([toBytes(bytes)], function (b, size) {
      return text(loaded()._kurvix_window(b, size, lastKey >>> 0));
    }));
  };

  // Text in the device's format: UTF-16LE with byte-order mark and CR LF line ends.
  kurvix.deviceFormat = function (textValue) {
    const utf8 = new TextEncoder().encode(textValue);
    return withMemory([utf8], function (b, size) {
      const module = loaded();
      const pointer = module._kurvix_device_format(b, size);
      return module.HEAPU8.slice(pointer, pointer + module._kurvix_result_size());
    });
  };

  // ---- The page -----------------------------------------------------------------------------
  const $ = function (id) { return document.getElementById(id); };
  const editor = $('editor');
  const gutter = $('gutter');

  const KEYS = [
    ['Application button 1', 'VK_APP1', 193], ['Application button 2', 'VK_APP2', 194],
    ['Application button 3', 'VK_APP3', 195], ['Application button 4', 'VK_APP4', 196],
    ['Application button 5', 'VK_APP5', 197], ['Application button 6', 'VK_APP6', 198],
    ['Action (centre of the rocker)', 'VK_RETURN', 13], ['Back', 'VK_ESCAPE', 27],
    ['Left', 'VK_LEFT', 37], ['Up', 'VK_UP', 38], ['Right', 'VK_RIGHT', 39], ['Down', 'VK_DOWN', 40],
    ['Soft key 1', 'VK_F1', 112], ['Soft key 2', 'VK_F2', 113], ['Talk', 'VK_F3', 114],
    ['End', 'VK_F4', 115], ['Volume up', 'VK_F6', 117], ['Volume down', 'VK_F7', 118],
    ['Record', 'VK_F10', 121]
  ];

  // English for the device's German messages, by caption (and for "Fehler", by its sentence).
  const EXPLAIN = {
    'Kurvix - Ignoriere unbekannten Typ:': 'Outside a block this line is neither empty, a comment, nor a KURVIX or ' +
      'SETTINGS header, so the device skips it. An empty line ends a block: a key line after one lands here.',
    'Kurvix - Ignoriere unbekannten Wert:': 'In a binding (after KURVIX) the line does not begin with KeyCode, ' +
      'Command, NewIni or Disable, spelt exactly so. The device skips it; the binding goes on.',
    'Kurvix - Ignoriere Fehler:': 'The key is known, but the device found no value: the equals sign is missing ' +
      'or the value is too short. The field keeps what it had.',
    'Settings - Ignoriere unbekannten Wert:': 'In SETTINGS only CheckIntervall and ElapseTime are known, spelt ' +
      'exactly so. The device skips the line.',
    'Settings - Ignoriere Fehler:': 'The setting is known but has no value (no equals sign); it keeps what it had.',
    'Datei nicht gefunden:': 'The device cannot open this file, and loads nothing.',
    'Terminieren?': 'The program this key started last still runs: the device asks whether to end it ' +
      '(the try-out answers No).',
    'Die Datei ist leer': 'The file is empty or does not begin with the byte-order mark FF FE of UTF-16LE: ' +
      'the device loads nothing. "Save for the device" writes the text in the format it needs.',
    'Die Datei konnte nicht': 'Reading the file failed part-way; the device refuses it as a whole.',
    'Der Pfad zum Programm': 'The program could not find its own directory.'
  };

  function explain(message) {
    if (message.caption === 'Fehler') {
      for (const start in EXPLAIN) {
        if (message.text.indexOf(start) === 0) return EXPLAIN[start];
      }
    }
    return EXPLAIN[message.caption] || '';
  }

  const state = {
    name: 'Kurvix.ini',
    opened: null,      // the bytes of the file as opened, checked until the first edit
    encoding: '',      // how the opened file was read
    checked: null,     // the bytes last checked
    lineStarts: [],
    presses: [],
    stepped: 0
  };

  function setStatus(message, isError) {
    $('status').textContent = message;
    $('status').className = isError ? 'error' : '';
  }

  function element(tag, className, content) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (content !== undefined) node.textContent = content;
    return node;
  }

  // ---- Reading files ----
  function decode(bytes, choice) {
    const starts = function (prefix) { return prefix.every(function (b, i) { return bytes[i] === b; }); };
    let encoding = choice;
    if (choice === 'auto') {
      if (starts([0xFF, 0xFE])) encoding = 'utf-16le';
      else if (starts([0xFE, 0xFF])) encoding = 'utf-16be';
      else if (starts([0xEF, 0xBB, 0xBF])) encoding = 'utf-8';
      else if (bytes.length >= 2 && bytes[0] !== 0 && bytes[1] === 0) encoding = 'utf-16le';
      else {
        try {
          new TextDecoder('utf-8', { fatal: true }).decode(bytes);
          encoding = 'utf-8';
        } catch (e) {
          encoding = 'windows-1252';
        }
      }
    }
    const names = { 'utf-16le': 'UTF-16LE', 'utf-16be': 'UTF-16BE', 'utf-8': 'UTF-8', 'windows-1252': 'Windows-1252' };
    const bom = encoding === 'utf-8' ? starts([0xEF, 0xBB, 0xBF])
      : encoding === 'utf-16le' ? starts([0xFF, 0xFE]) : encoding === 'utf-16be' && starts([0xFE, 0xFF]);
    return {
      text: new TextDecoder(encoding).decode(bytes),
      label: names[encoding] + (encoding.indexOf('utf') === 0 ? (bom ? ' with byte-order mark' : ' without byte-order mark') : '')
    };
  }

  function showOpened() {
    const decoded = decode(state.opened, $('encoding').value);
    state.encoding = decoded.label;
    editor.value = decoded.text;
    refresh();
  }

  function openFile(file) {
    file.arrayBuffer().then(function (buffer) {
      state.name = file.name || 'Kurvix.ini';
      state.opened = new Uint8Array(buffer);
      showOpened();
      setStatus('Opened ' + state.name + '.');
    }, function () { setStatus('Could not read ' + file.name + '.', true); });
  }

  // ---- Checking ----
  function currentBytes() {
    return state.opened !== null ? state.opened : kurvix.deviceFormat(editor.value);
  }

  let gutterLines = 0;
  function updateGutter() {
    const count = editor.value.split('\n').length;
    if (gutterLines !== count) {
      gutterLines = count;
      const numbers = [];
      for (let i = 1; i <= count; ++i) numbers.push(i);
      gutter.textContent = numbers.join('\n') + '\n';
    }
    gutter.scrollTop = editor.scrollTop;
  }

  // The editor's line (1-based) of a line the device counts: a line the device cuts at its
  // 259th unit goes on in the same editor line, and so does the empty line it then reads.
  function editorLine(deviceLine) {
    if (!deviceLine || deviceLine > state.lineStarts.length) return null;
    const offset = state.lineStarts[deviceLine - 1];
    const bytes = state.checked;
    let line = 1;
    for (let i = 0; i < offset; ++i) {
      const unit = bytes[2 + 2 * i] | bytes[3 + 2 * i] << 8;
      const next = i + 1 < offset ? (bytes[4 + 2 * i] | bytes[5 + 2 * i] << 8) : -1;
      if (unit === 0x0A || (unit === 0x0D && next !== 0x0A)) ++line;
    }
    return line;
  }

  function goToLine(line) {
    const lines = editor.value.split('\n');
    let position = 0;
    for (let i = 0; i < line - 1 && i < lines.length; ++i) position += lines[i].length + 1;
    editor.focus();
    editor.setSelectionRange(position, position);
    const lineHeight = parseFloat(getComputedStyle(editor).lineHeight) || 20;
    editor.scrollTop = Math.max(0, (line - 3) * lineHeight);
    updateGutter();
  }

  function finding(line, parts) {
    const item = element('li');
    const target = line ? element('button', 'goto') : element('div');
    if (line) {
      target.type = 'button';
      target.dataset.line = line;
      target.addEventListener('click', function () { goToLine(line); });
      target.appendChild(element('span', 'where', 'Line ' + line + ': '));
    }
    parts.forEach(function (part) { target.appendChild(part); });
    item.appendChild(target);
    return item;
  }

  function german(className, content) {
    const node = element('span', className + ' device', content);
    node.lang = 'de';
    return node;
  }

  function renderCheck(result) {
    const loadText = result.result === 0
      ? 'The device loads this file' + (result.messages.length ? ' and shows these message boxes, one after another:' : ' without a message.')
      : 'The device refuses this file and loads nothing:';
    $('load-result').textContent = loadText;
    const messages = $('messages');
    messages.textContent = '';
    result.messages.forEach(function (message) {
      const line = message.line ? editorLine(message.line) : null;
      messages.appendChild(finding(line, [
        german('caption', message.caption), document.createTextNode(' '),
        german('text', '\u201E' + message.text + '\u201C'),
        element('span', 'explain', explain(message))
      ]));
    });
    const hints = $('hints');
    hints.textContent = '';
    result.hints.forEach(function (hint) {
      hints.appendChild(finding(hint.line ? editorLine(hint.line) : null, [element('span', 'hint', hint.text)]));
    });
    if (result.hints.length === 0) hints.appendChild(element('li', 'help', 'No hints.'));

    $('settings').textContent = 'CheckIntervall ' + result.checkInterval + ' ms, ElapseTime ' + result.elapseTime +
      ' ms: a long press needs the key held for at least ' + result.elapseTime + ' ms.';
    const body = $('bindings').tBodies[0];
    body.textContent = '';
    result.bindings.forEach(function (binding, index) {
      const row = body.insertRow();
      const known = KEYS.find(function (key) { return key[2] === binding.keyCode; });
      const actions = [];
      if (binding.command !== null) actions.push('opens \u201E' + binding.command + '\u201C (or offers to end it while it runs)');
      if (binding.disableAll) actions.push('switches all bindings off');
      if (binding.newIniPath !== null) actions.push('loads \u201E' + binding.newIniPath + '\u201C in place of this file');
      [String(index + 1), String(binding.keyCode), known ? known[1] : '',
        actions.length ? actions.join('; ') : 'nothing (no action)'].forEach(function (cell) {
        row.insertCell().textContent = cell;
      });
    });
    if (result.bindings.length === 0) body.insertRow().insertCell().textContent = 'No bindings.';
  }

  function refresh() {
    if (wasm === null) return;
    updateGutter();
    try {
      state.checked = currentBytes();
      state.lineStarts = kurvix.lines(state.checked);
      renderCheck(kurvix.check(state.checked, state.name));
      drawWindow();
      $('file-info').textContent = state.opened !== null
        ? 'Checking ' + state.name + ' as opened (' + state.encoding + '). Editing checks the text as it will be saved.'
        : 'Checking the text as it will be saved, as ' + state.name + '.';
    } catch (error) {
      setStatus('The check failed: ' + error.message, true);
    }
  }

  let pending = null;
  editor.addEventListener('input', function () {
    state.opened = null;
    updateGutter();
    clearTimeout(pending);
    pending = setTimeout(refresh, 120);
  });
  editor.addEventListener('scroll', updateGutter);

  // ---- The status window ----
  function colour(colorref) {
    return 'rgb(' + (colorref & 0xFF) + ',' + (colorref >> 8 & 0xFF) + ',' + (colorref >> 16 & 0xFF) + ')';
  }

  // A line from `from` to `to`, the end point excluded, as the device draws it.
  function drawSegment(g, from, to) {
    const dx = Math.sign(to[0] - from[0]);
    const dy = Math.sign(to[1] - from[1]);
    for (let x = from[0], y = from[1]; x !== to[0] || y !== to[1]; x += dx, y += dy) g.fillRect(x, y, 1, 1);
  }

  function drawWindow() {
    const canvas = $('window-picture');
    const picture = kurvix.statusWindow(state.checked, Number($('last-key').value) || 0);
    const g = canvas.getContext('2d');
    const scale = 2;
    if (picture.ended) {
      canvas.width = 300 * scale;
      canvas.height = 40 * scale;
      g.setTransform(scale, 0, 0, scale, 0, 0);
      g.fillStyle = '#fff';
      g.fillRect(0, 0, 300, 40);
      g.fillStyle = '#a00000';
      g.font = '12px sans-serif';
      g.fillText('The program ends: the file is not loaded, no window.', 4, 24);
      canvas.setAttribute('aria-label', 'No status window: the program ends because the file is not loaded.');
      return;
    }
    const border = (picture.width - picture.client[2]) / 2;
    const caption = picture.height - picture.client[3] - 2 * border;
    canvas.width = picture.width * scale;
    canvas.height = picture.height * scale;
    g.setTransform(scale, 0, 0, scale, 0, 0);
    g.fillStyle = '#000';
    g.fillRect(0, 0, picture.width, picture.height);
    g.fillStyle = '#0a246a';
    g.fillRect(border, border, picture.client[2], caption);
    g.fillStyle = '#fff';
    g.font = 'bold 12px Tahoma, "DejaVu Sans", sans-serif';
    g.textBaseline = 'middle';
    g.fillText(picture.title, border + 4, border + caption / 2);
    g.fillText('\u00D7', picture.width - border - 14, border + caption / 2);
    g.translate(border, border + caption);
    g.fillStyle = '#c0c0c0';  // the class brush, LTGRAY_BRUSH
    g.fillRect(0, 0, picture.client[2], picture.client[3]);
    const texts = [];
    picture.ops.forEach(function (op) {
      if (op.kind === 'text') {
        const width = op.rect[2] - op.rect[0];
        g.save();
        g.beginPath();
        g.rect(op.rect[0], op.rect[1], width, op.rect[3] - op.rect[1]);
        g.clip();
        g.fillStyle = colour(op.color);
        g.font = '11px Tahoma, "DejaVu Sans", sans-serif';
        g.textAlign = 'center';
        g.fillText(op.text, op.rect[0] + width / 2, (op.rect[1] + op.rect[3]) / 2);
        g.restore();
        texts.push(op.text);
      } else if (op.kind === 'lines') {
        g.fillStyle = colour(op.color);
        for (let i = 1; i < op.points.length; ++i) drawSegment(g, op.points[i - 1], op.points[i]);
      }
    });
    canvas.setAttribute('aria-label', 'The status window "' + picture.title + '", showing: ' + texts.join(' | '));
  }
  $('last-key').addEventListener('input', function () { if (wasm !== null) drawWindow(); });

  // ---- Presses ----
  const EVENTS = {
    'started': function (e) { return 'started \u201E' + e.file + '\u201C'; },
    'asked': function () { return 'asked \u201ETerminieren?\u201C: end the program it started last? (answered No)'; },
    'passed-through': function () { return 'a short press: handed the key on to the program in front'; },
    'switched-off': function () { return 'switched all bindings off'; },
    'loaded': function (e) { return 'loaded \u201E' + e.file + '\u201C' + (e.bindings !== undefined ? ': ' + e.bindings + ' bindings' : ''); },
    'load-failed': function (e) { return 'could not load \u201E' + e.file + '\u201C'; },
    'not-caught': function () { return 'did not catch the key (no binding has it, or the bindings are off): it went to the program in front'; },
    'nothing': function () { return 'did nothing'; }
  };

  function describeEvent(event) {
    if (event.event === 'message') {
      const span = element('span');
      span.appendChild(document.createTextNode('message box '));
      span.appendChild(german('caption', event.caption));
      span.appendChild(document.createTextNode(' '));
      span.appendChild(german('text', '\u201E' + event.text + '\u201C'));
      if (event.line) span.appendChild(document.createTextNode(' (line ' + event.line + ' of its file)'));
      span.appendChild(element('span', 'explain', explain(event)));
      return span;
    }
    return document.createTextNode((EVENTS[event.event] || function () { return event.event; })(event));
  }

  function renderPresses() {
    const list = $('press-list');
    list.textContent = '';
    state.presses.forEach(function (press, index) {
      const item = element('li', '', 'key ' + press[0] + ' held ' + press[1] + ' ms ');
      const remove = element('button', '', 'Remove');
      remove.type = 'button';
      remove.setAttribute('aria-label', 'Remove press ' + (index + 1));
      remove.addEventListener('click', function () {
        state.presses.splice(index, 1);
        state.stepped = 0;
        renderPresses();
      });
      item.appendChild(remove);
      list.appendChild(item);
    });
    $('press-step').textContent = state.stepped < state.presses.length
      ? 'Run the next press (' + (state.stepped + 1) + ' of ' + state.presses.length + ')' : 'Run the next press';
  }

  // Runs the first `count` presses from start-up and lists what the device did; only the
  // events of presses from `from` on are shown.
  function runPresses(count, from) {
    const steps = $('press-steps');
    steps.textContent = '';
    if (count === 0) {
      steps.appendChild(element('li', 'help', 'Add a press first.'));
      return;
    }
    let events;
    try {
      events = kurvix.press(currentBytes(), state.presses.slice(0, count), state.name);
    } catch (error) {
      steps.appendChild(element('li', 'error', error.message));
      return;
    }
    events.forEach(function (event) {
      if (event.press !== 0 && event.press < from) return;
      const who = event.press === 0 ? 'Start-up' : 'Press ' + event.press + ' (key ' + event.key + ', ' + event.ms + ' ms)';
      const item = element('li');
      item.appendChild(element('span', 'who', who + ': '));
      item.appendChild(describeEvent(event));
      steps.appendChild(item);
    });
    if (events.length === 0 || events[events.length - 1].press < count) {
      steps.appendChild(element('li', 'help', 'The program ended before the remaining presses.'));
    }
  }

  $('press-add').addEventListener('click', function () {
    const key = Number($('press-key').value);
    const ms = Number($('press-ms').value);
    if (!Number.isInteger(key) || !Number.isInteger(ms) || key < 0 || ms < 0 || key > MOST_KEY || ms > MOST_MS) {
      setStatus('A press needs a key code and a hold time of up to ' + MOST_MS + ' ms, in whole numbers.', true);
      return;
    }
    state.presses.push([key, ms]);
    renderPresses();
    setStatus('Added a press of key ' + key + ' for ' + ms + ' ms.');
  });
  $('press-clear').addEventListener('click', function () {
    state.presses = [];
    state.stepped = 0;
    renderPresses();
    $('press-steps').textContent = '';
  });
  $('press-run').addEventListener('click', function () {
    state.stepped = state.presses.length;
    runPresses(state.presses.length, 1);
    renderPresses();
  });
  $('press-step').addEventListener('click', function () {
    if (state.stepped >= state.presses.length) state.stepped = 0;
    state.stepped += 1;
    runPresses(Math.min(state.stepped, state.presses.length), state.stepped);
    renderPresses();
  });

  // ---- Key codes ----
  KEYS.forEach(function (key) {
    const row = $('key-table').tBodies[0].insertRow();
    key.forEach(function (cell) { row.insertCell().textContent = String(cell); });
  });
  $('key-probe').addEventListener('keydown', function (event) {
    if (event.key === 'Tab') return;  // keep the keyboard's way out of the field
    event.preventDefault();
    const code = event.keyCode;
    const out = $('key-probe-out');
    if (!code || code === 229) {
      out.textContent = event.key + ': no key code on a Windows desktop';
      return;
    }
    out.textContent = (event.key === ' ' ? 'Space' : event.key) + ': key code ' + code + ' (0x' +
      code.toString(16).toUpperCase() + ')';
  });

  // ---- Files: open, drop, save ----
  $('open').addEventListener('change', function (event) {
    if (event.target.files.length) openFile(event.target.files[0]);
    event.target.value = '';  // the same file can be opened again
  });
  $('encoding').addEventListener('change', function () { if (state.opened !== null) showOpened(); });
  const drop = $('drop');
  drop.addEventListener('dragover', function (event) {
    event.preventDefault();
    drop.classList.add('dragging');
  });
  drop.addEventListener('dragleave', function () { drop.classList.remove('dragging'); });
  drop.addEventListener('drop', function (event) {
    event.preventDefault();
    drop.classList.remove('dragging');
    if (event.dataTransfer.files.length) openFile(event.dataTransfer.files[0]);
  });
  $('save').addEventListener('click', function () {
    const bytes = kurvix.deviceFormat(editor.value);
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    link.download = state.name;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 10000);
    state.opened = bytes;
    state.encoding = 'UTF-16LE with byte-order mark, as saved';
    refresh();
    setStatus('Saved ' + state.name + ' in the device\u2019s format (' + bytes.length + ' bytes).');
  });

  kurvix.ready.then(function () {
    setStatus('Ready. The device runs in this page.');
    renderPresses();
    refresh();
  }, function (error) { setStatus(error.message, true); });
})();

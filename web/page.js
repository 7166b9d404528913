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
    if (!module._kurvix_set_folder_ready()) {
      throw new Error('The page could not make its folder for the files: it cannot tell which files a NewIni finds.');
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

  // Calls f with pointers to copies of the arguments in the module's memory: a Uint8Array or
  // Uint32Array gives (pointer, length), a string its zero-terminated UTF-8.
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
        } else if (arg instanceof Uint32Array) {
          const pointer = module._malloc(Math.max(4 * arg.length, 4));
          pointers.push(pointer);
          module.HEAPU32.set(arg, pointer >> 2);
          passed.push(pointer, arg.length);
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

  // A name that stands for a file in a folder: no folder of its own, nothing a file name
  // on the device cannot hold.
  function fileNameError(name) {
    if (typeof name !== 'string' || name.trim() === '') return 'Name the file first (the device loads Kurvix.ini).';
    if (/[\\/:*?"<>|\u0000-\u001F]/.test(name)) {
      return 'A file name cannot hold \\ / : * ? " < > | or control characters: ' + name;
    }
    if (/^\.+$/.test(name.trim())) return 'A file name cannot be dots alone: ' + name;
    return '';
  }

  // Calls f with the files `beside` (an object of file name to bytes) put next to the file
  // `name`, as kurvix-check finds the files next to the one it checks; none of them under
  // that name itself, which the call puts there.
  function withFilesBeside(name, beside, f) {
    if (beside === undefined || beside === null) return f();
    if (typeof beside !== 'object') throw new TypeError('files must be an object of file name to Uint8Array');
    const folder = name.lastIndexOf('/') >= 0 ? name.slice(0, name.lastIndexOf('/') + 1) : '';
    const own = name.slice(folder.length).toLowerCase();
    const placed = [];
    try {
      Object.keys(beside).forEach(function (other) {
        const error = fileNameError(other);
        if (error) throw new TypeError(error);
        const bytes = toBytes(beside[other]);
        if (other.toLowerCase() === own) return;
        withMemory([folder + other, bytes], function (p, b, size) { loaded()._kurvix_put_file(p, b, size); });
        placed.push(folder + other);
      });
      return f();
    } finally {
      placed.forEach(function (path) {
        withMemory([path], function (p) { loaded()._kurvix_remove_file(p); });
      });
    }
  }

  // Exactly the object `kurvix-check --json NAME` prints for a file NAME with these bytes;
  // with files (an object of file name to bytes), as it prints when those files lie beside it.
  kurvix.check = function (bytes, name, files) {
    const fileName = name || 'Kurvix.ini';
    const output = withFilesBeside(fileName, files, function () {
      return withMemory([fileName, toBytes(bytes)], function (n, b, size) {
        return text(loaded()._kurvix_check(n, b, size));
      });
    });
    return JSON.parse(output);
  };

  // Exactly what `kurvix-check --explain ID` prints; an id no hint has throws.
  // The device's texts by their names in the device code (res/texts.h), and the resource ids
  // of the tray icon's pictures: {texts: {TERMINATE_CAPTION: 'Terminieren?', ...},
  // trayIcons: {enabled, disabled}}.
  kurvix.deviceFacts = function () {
    return JSON.parse(text(loaded()._kurvix_device_facts()));
  };

  kurvix.explain = function (id) {
    const explanation = withMemory([String(id)], function (i) { return text(loaded()._kurvix_explain(i)); });
    if (explanation === '') throw new TypeError('no hint has the id "' + id + '"');
    return explanation;
  };

  // What kurvix-check takes: a key code from 1 to 254 and a hold of up to nine digits.
  const FIRST_KEY = 1;
  const LAST_KEY = 254;
  const MOST_MS = 999999999;
  // The page runs presses on its one thread: a person tries holds of up to an hour (a day's
  // hold takes the dry run about two seconds, and the page would not answer meanwhile).
  const MOST_MS_BY_HAND = 3600000;

  // The presses as key, ms pairs for the module; anything kurvix-check would refuse throws.
  function pressPairs(presses) {
    if (!Array.isArray(presses) || presses.length === 0) {
      throw new TypeError('presses must be a non-empty array of [key, ms]');
    }
    presses.forEach(function (press) {
      const whole = function (n, least, most) { return Number.isInteger(n) && n >= least && n <= most; };
      if (!Array.isArray(press) || press.length !== 2 || !whole(press[0], FIRST_KEY, LAST_KEY) ||
          !whole(press[1], 0, MOST_MS)) {
        throw new TypeError('a press must be [key, ms]: a key code from ' + FIRST_KEY + ' to ' + LAST_KEY +
          ' and a hold of 0 to ' + MOST_MS + ' ms');
      }
    });
    return Uint32Array.from([].concat.apply([], presses));
  }

  function runPressesIn(exported, bytes, presses, name, files) {
    const pairs = pressPairs(presses);
    const fileName = name || 'Kurvix.ini';
    const output = withFilesBeside(fileName, files, function () {
      return withMemory([fileName, toBytes(bytes), pairs], function (n, b, size, p) {
        return text(loaded()[exported](n, b, size, p, presses.length));
      });
    });
    return JSON.parse(output);
  }

  // Exactly the array `kurvix-check --json NAME --press KEY:MS ...` prints (with files beside
  // it, as in kurvix.check).
  kurvix.press = function (bytes, presses, name, files) {
    return runPressesIn('_kurvix_press', bytes, presses, name, files);
  };

  // The same presses over time, as the simulated device recorded them while each key was
  // held: one object for each press the program lived to see (ms counted from the key-down).
  kurvix.timeline = function (bytes, presses, name, files) {
    return runPressesIn('_kurvix_timeline', bytes, presses, name, files);
  };

  // The screens to choose from, and the task bar along their foot.
  const SCREENS = { '240x320': [240, 320], '320x240': [320, 240], '640x480': [640, 480] };
  const TASK_BAR = 26;

  // The status window's painting on the simulated device with this configuration, on a
  // screen of [width, height] (default 240 x 320), after the taps given: [x, y] a tap at
  // those client coordinates, 'tray' a tap on the tray icon.
  kurvix.statusWindow = function (bytes, lastKey, screen, taps) {
    const size = screen || SCREENS['240x320'];
    const fits = function (n, least) { return Number.isInteger(n) && n >= least && n <= 4096; };
    if (!Array.isArray(size) || size.length !== 2 || !fits(size[0], 1) || !fits(size[1], TASK_BAR + 1)) {
      throw new TypeError('a screen must be [width, height] in pixels, up to 4096, taller than the ' + TASK_BAR +
        '-pixel task bar');
    }
    const triples = [];
    (taps || []).forEach(function (tap) {
      if (tap === 'tray') {
        triples.push(1, 0, 0);
      } else if (Array.isArray(tap) && tap.length === 2 && tap.every(function (n) { return Number.isInteger(n) && n >= 0 && n < 0x8000; })) {
        triples.push(0, tap[0], tap[1]);
      } else {
        throw new TypeError("a tap must be [x, y] in the window's client area, or 'tray'");
      }
    });
    return JSON.parse(withMemory([toBytes(bytes), Uint32Array.from(triples)], function (b, n, t, count) {
      return text(loaded()._kurvix_window(b, n, lastKey >>> 0, size[0], size[1], t, count / 3));
    }));
  };

  // A file in the device's format (UTF-16LE, byte-order mark, CR LF), as kurvix-check
  // --to-unicode converts it: from the encoding named (iconv's names, such as CP1252), or,
  // with none, recognised by its first bytes. {bytes} or, when refused, {error}.
  kurvix.convert = function (bytes, from) {
    return withMemory([toBytes(bytes), from || ''], function (b, size, f) {
      const module = loaded();
      const error = text(module._kurvix_convert(b, size, f));
      if (error) return { error: error };
      const pointer = module._kurvix_result_bytes();
      return { bytes: module.HEAPU8.slice(pointer, pointer + module._kurvix_result_size()) };
    });
  };

  // Text in the device's format.
  // The errors and warnings of a kurvix.check report and of the files its NewIni bindings
  // name, as "file:line: grade: text".
  function findingsOf(report) {
    const found = report.result !== 0 ? [report.file + ': error: the device does not load it'] : [];
    report.messages.concat(report.hints).forEach(function (item) {
      if (item.severity === 'error' || item.severity === 'warning') {
        // A device message: its box's caption and text, and what they mean.
        const said = 'caption' in item ? item.caption + ' ' + item.text + ' (' + item.explanation + ')'
          : placesInThePage(item.text);
        found.push(report.file + ('line' in item ? ':' + item.line : '') + ': ' + item.severity + ': ' + said);
      }
    });
    (report.newIniFiles || []).forEach(function (named) { found.push.apply(found, findingsOf(named)); });
    return found;
  }

  let deviceProgram = null;

  // A Windows CE installation cab of the device program and files ({name: Uint8Array},
  // Kurvix.ini first; the others installed beside it), written by the same writer as
  // packaging/make_cab.py's. options: variant ("startup" or "registry"), installDir, launch
  // (the registry variant's Launch number), ignoreFindings (pack a set with errors or
  // warnings; otherwise that throws an Error whose findings lists them). Gives {bytes, name}.
  kurvix.deviceCab = function (files, options) {
    const settings = options || {};
    const names = Object.keys(files || {});
    const installation = KURVIX_DEVICE.installation;
    if (names[0] !== installation.configuration.name) {
      throw new TypeError('files must be an object of name to Uint8Array, ' + installation.configuration.name + ' first');
    }
    // Each file is checked with the others beside it, as they lie in the install folder; a
    // file that a NewIni names is reported again in the report of the file that names it.
    const findings = [];
    names.forEach(function (name) {
      const beside = {};
      names.forEach(function (other) { if (other !== name) beside[other] = toBytes(files[other]); });
      findingsOf(kurvix.check(toBytes(files[name]), name, beside)).forEach(function (finding) {
        if (findings.indexOf(finding) < 0) findings.push(finding);
      });
    });
    if (findings.length > 0 && !settings.ignoreFindings) {
      const error = new Error('The configuration has ' + findings.length + ' errors or warnings, so it is not packed ' +
        '(ignoreFindings packs it anyway): ' + findings.join('; '));
      error.findings = findings;
      throw error;
    }
    if (deviceProgram === null) {
      deviceProgram = Uint8Array.from(atob(KURVIX_DEVICE.program), function (c) { return c.charCodeAt(0); });
    }
    return kurvixDeviceCab.deviceCab(installation,
      [[installation.program.name, deviceProgram]].concat(names.map(function (name) { return [name, toBytes(files[name])]; })),
      { variant: settings.variant, installDir: settings.installDir, launch: settings.launch });
  };

  kurvix.deviceFormat = function (textValue) {
    return kurvix.convert(new TextEncoder().encode(textValue), 'UTF-8').bytes;
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

  // The file the device loads; a NewIni may name the set's other files.
  const DEVICE_FILE = 'Kurvix.ini';

  // A file of the set. The one in the editor keeps its text there, the others in `text`.
  function setFile(name, content) {
    return {
      name: name,        // its name on the device; the first file's is always Kurvix.ini
      openedFrom: '',    // the name of the file last opened into it
      opened: null,      // the bytes of the file as opened, checked until the first edit
      encoding: '',      // how the opened file was read
      unreadable: false, // the opened file could not be read as chosen, and its text is empty
      text: content,
      baseline: content  // the text as last opened, saved or started with: anything else is unsaved work
    };
  }

  const state = {
    files: [setFile(DEVICE_FILE, '')],
    active: 0,
    presses: [],
    stepped: 0
  };

  // The file in the editor.
  function file() { return state.files[state.active]; }
  function textOf(entry) { return entry === file() ? editor.value : entry.text; }
  // What the device would get: the bytes as opened until the first edit, else the text saved.
  function bytesOf(entry) { return entry.opened !== null ? entry.opened : kurvix.deviceFormat(textOf(entry)); }
  // The set's other files, beside the one in the editor.
  function filesBeside() {
    const beside = {};
    state.files.forEach(function (entry) { if (entry !== file()) beside[entry.name] = bytesOf(entry); });
    return beside;
  }

  // The set as the device gets it: file name to bytes, Kurvix.ini first, then in the order
  // the files were added.
  kurvix.fileSet = function () {
    loaded();
    const set = {};
    state.files.forEach(function (entry) { set[entry.name] = bytesOf(entry); });
    return set;
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
  // The editor shows a file as kurvix-check --to-unicode would convert it. Recognising the
  // encoding finds UTF-16 and UTF-8; text that is not valid UTF-8 is read as Windows-1252.
  // The converter's refusal, its command-line advice (--from=NAME) said the page's way.
  function conversionError(error) {
    return error.replace(/name it with --from=NAME.*$/, 'choose it under \u201CRead it as\u201D');
  }

  // Reads the bytes opened into entry as chosen under "Read it as".
  function showOpened(entry) {
    const choice = $('encoding').value;
    let converted = kurvix.convert(entry.opened, choice === 'auto' ? '' : choice);
    entry.encoding = choice === 'auto' ? 'encoding recognised' : $('encoding').selectedOptions[0].textContent;
    if (converted.error && choice === 'auto') {
      entry.encoding = 'read as Windows-1252: not UTF-8 (' + conversionError(converted.error) + ')';
      converted = kurvix.convert(entry.opened, 'CP1252');
    }
    entry.unreadable = Boolean(converted.error);
    let read = '';
    if (converted.error) {
      entry.encoding = 'cannot be read as ' + entry.encoding + ': ' + conversionError(converted.error);
      setStatus(entry.openedFrom + ' ' + entry.encoding, true);
    } else {
      read = new TextDecoder('utf-16le').decode(converted.bytes.subarray(2)).replace(/\r\n/g, '\n');
    }
    entry.text = read;
    entry.baseline = read;  // the file as read: nothing of it is unsaved work
    if (entry === file()) editor.value = read;
    refresh();
  }

  // The text differs from what was last opened, saved or started with.
  function edited(entry) { return textOf(entry) !== entry.baseline; }

  // Opens a file picked or dropped into entry (the file in the editor unless given), asking
  // first when that would replace unsaved changes.
  function openFile(picked, entry) {
    const into = entry || file();
    if (edited(into) && !window.confirm('The text of ' + into.name + ' has changes that were not saved for the ' +
        'device. Open \u201E' + picked.name + '\u201C in its place? The changes will be lost.')) {
      setStatus('Not opened: ' + picked.name + '. The text is as it was.');
      return Promise.resolve();
    }
    return picked.arrayBuffer().then(function (buffer) {
      into.openedFrom = picked.name || into.name;
      into.opened = new Uint8Array(buffer);
      if (into === state.files[0]) device.taps = [];
      showOpened(into);
      keepDraft();
      if (!into.unreadable) setStatus('Opened ' + into.openedFrom + ' as ' + into.name + '.');
    }, function () { setStatus('Could not read ' + picked.name + '.', true); });
  }

  // ---- The set of files ----
  // The entry named name, upper and lower case ignored as the device ignores them.
  function fileNamed(name) {
    return state.files.find(function (entry) { return entry.name.toLowerCase() === name.toLowerCase(); });
  }

  // Why name cannot be a new file of the set; '' when it can.
  function newNameError(name) {
    const error = fileNameError(name);
    if (error) return error;
    // An object's keys made of digits come first, whatever their order: Kurvix.ini would not.
    if (/^\d+$/.test(name)) return 'A file of the set needs a name that is not a number: ' + name;
    return '';
  }

  function showFile(index) {
    file().text = editor.value;
    state.active = index;
    editor.value = file().text;
    device.taps = [];  // the program starts again, with this file
    $('save-name').value = file().name;
    $('encoding').value = 'auto';
    renderSet();
    refresh();
  }

  function renderSet() {
    const choice = $('file-choice');
    choice.textContent = '';
    state.files.forEach(function (entry, index) {
      const option = element('option', '', entry.name + (index === 0 ? ' (the file the device loads)' : '') +
        (entry.openedFrom && entry.openedFrom !== entry.name ? ', opened from ' + entry.openedFrom : ''));
      option.value = String(index);
      choice.appendChild(option);
    });
    choice.value = String(state.active);
    $('remove-file').disabled = state.active === 0;
    $('set-info').textContent = state.files.length === 1
      ? 'The set holds ' + DEVICE_FILE + ' alone. Add the files its NewIni names, or make a new one.'
      : 'The set: ' + state.files.map(function (entry) { return entry.name; }).join(', ') + '. A NewIni ' +
        'written from the root of the device (\\Speicher\\Nacht.ini) finds the file of the set of that name, ' +
        'upper and lower case ignored.';
  }

  // A new file: the starting template, under the name given.
  const TEMPLATE = [
    '; Kurvix: hold a key to start a program. Lines beginning with ; are comments.',
    '; Find a key\u2019s code in the status window on the device (tap the tray icon, press the key).',
    'SETTINGS',
    'CheckIntervall=100',
    'ElapseTime=1000',
    '',
    'KURVIX Kalender',
    'KeyCode=193',
    'Command=\\Windows\\Kalender.exe',
    '',
    'KURVIX Tasten aus',
    'KeyCode=194',
    'Disable=1',
    ''
  ].join('\n');

  $('new-file').addEventListener('click', function () {
    const name = $('new-name').value.trim();
    const error = newNameError(name) || (fileNamed(name) ? 'The set already holds ' + fileNamed(name).name +
      ': give the new file another name.' : '');
    if (error) {
      setStatus('No new file: ' + error, true);
      $('new-name').focus();
      return;
    }
    state.files.push(setFile(name, TEMPLATE));
    showFile(state.files.length - 1);
    keepDraft();
    setStatus('Made ' + name + ' from the template. A NewIni names it on the device as \u201E\\\u2026\\' + name +
      '\u201C, with the folder it is copied to.');
    editor.focus();
  });

  $('use-template').addEventListener('click', function () {
    if (edited(file()) && !window.confirm('The text of ' + file().name + ' has changes that were not saved for ' +
        'the device. Put the template in its place? The changes will be lost.')) {
      setStatus('The text is as it was.');
      return;
    }
    editor.value = TEMPLATE;
    file().opened = null;
    file().unreadable = false;
    keepDraft();
    refresh();
    setStatus(file().name + ' holds the template now.');
  });

  $('file-choice').addEventListener('change', function (event) { showFile(Number(event.target.value)); });

  $('remove-file').addEventListener('click', function () {
    const entry = file();
    if (state.active === 0) return;
    if (edited(entry) && !window.confirm('The text of ' + entry.name + ' has changes that were not saved for the ' +
        'device. Remove it from the set all the same?')) {
      return;
    }
    state.files.splice(state.active, 1);
    state.active = 0;
    editor.value = file().text;
    showFile(0);
    keepDraft();
    setStatus('Removed ' + entry.name + ' from the set.');
  });

  // Files added to the set: each under its own name, in place of a file of the set so named.
  function addFiles(picked) {
    Array.from(picked).reduce(function (done, one) {
      return done.then(function () {
        const error = newNameError(one.name);
        if (error) {
          setStatus('Not added: ' + error, true);
          return null;
        }
        let entry = fileNamed(one.name);
        if (entry === undefined) {
          entry = setFile(one.name, '');
          state.files.push(entry);
        }
        showFile(state.files.indexOf(entry));
        return openFile(one, entry);
      });
    }, Promise.resolve()).then(renderSet);
  }
  $('add-files').addEventListener('change', function (event) {
    addFiles(event.target.files);
    event.target.value = '';
  });

  // ---- The draft, kept in the browser ----
  const DRAFT_KEY = 'kurvix-companion-draft';
  // A draft found at start-up stays stored, untouched, until it is restored or discarded.
  let offeredDraft = null;

  function storage() {
    try {
      return window.localStorage;
    } catch (error) {
      return null;
    }
  }

  function keepDraft() {
    const store = storage();
    if (store === null || offeredDraft !== null) return;
    const files = state.files.map(function (entry) { return { name: entry.name, text: textOf(entry) }; });
    try {
      store.setItem(DRAFT_KEY, JSON.stringify({ files: files, at: Date.now() }));
    } catch (error) {
      setStatus('This browser does not keep the draft (' + error.message + '): save your work.', true);
    }
  }

  // The files of a kept draft; a draft kept before the page held several files had one.
  function draftFiles(draft) {
    if (draft === null || typeof draft !== 'object') return [];
    const files = Array.isArray(draft.files) ? draft.files : [{ name: DEVICE_FILE, text: draft.text }];
    return files.filter(function (entry) {
      return entry && typeof entry.text === 'string' && typeof entry.name === 'string' && !fileNameError(entry.name);
    });
  }

  function offerDraft() {
    const store = storage();
    let draft = null;
    try {
      draft = store === null ? null : JSON.parse(store.getItem(DRAFT_KEY));
    } catch (error) {
      draft = null;
    }
    const files = draftFiles(draft);
    if (!files.some(function (entry) { return entry.text !== ''; })) return;
    offeredDraft = files;
    $('draft-info').textContent = 'This browser kept the text you worked on last (' + files.map(function (entry) {
      return entry.name + ', ' + plural(entry.text.split('\n').length, 'line');
    }).join('; ') + ', ' + new Date(draft.at).toLocaleString() +
      '). Restore it, or discard it; what you type now is kept once you have chosen.';
    $('draft').hidden = false;
  }

  function closeDraftOffer() {
    offeredDraft = null;
    $('draft').hidden = true;
    keepDraft();
  }

  $('draft-restore').addEventListener('click', function () {
    const files = offeredDraft;
    state.files = files.map(function (entry, index) {
      const restored = setFile(index === 0 ? DEVICE_FILE : entry.name, entry.text);
      restored.baseline = '';  // kept, not saved: unsaved work
      return restored;
    });
    state.active = 0;
    editor.value = file().text;
    closeDraftOffer();
    showFile(0);
    setStatus('Restored the draft of ' + state.files.map(function (entry) { return entry.name; }).join(', ') + '.');
    editor.focus();
  });
  $('draft-discard').addEventListener('click', function () {
    closeDraftOffer();
    setStatus('Discarded the kept draft.');
  });

  // ---- Checking ----
  function currentBytes() { return bytesOf(file()); }

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

  // "1 binding", "2 bindings".
  function plural(n, what) { return n + ' ' + what + (n === 1 ? '' : 's'); }

  // The command line's way to convert a file, said as it is done in this page.
  function inThePage(hintText) {
    const at = hintText.indexOf('convert it with: kurvix-check --to-unicode');
    if (at < 0) return hintText;
    const from = /--from=(\S+)/.exec(hintText.slice(at));
    const reading = from === null ? ''
      : from[1] === 'CP1252' ? 'read it as Windows-1252 (\u201CRead it as\u201D above; the page does so by itself when it is not UTF-8), '
      : 'read it as ' + from[1] + ' (\u201CRead it as\u201D above, if that encoding is offered), ';
    return hintText.slice(0, at) + 'to fix it here, ' + reading + 'check the text in the editor, then press ' +
      '\u201CSave for the device\u201D: it writes UTF-16LE with the byte-order mark FF FE and CR LF line ends';
  }

  // Where the command line looked for a NewIni file (host paths), said as the page looks:
  // among the set's files by name, for a path written from the root; in the device's root
  // folder, where no file of the set lies, for one written without a folder.
  function placesInThePage(hintText) {
    return hintText.replace(/\(looked for at (.*?), upper and lower case ignored\)/, function (all, places) {
      return places.indexOf(' or ') >= 0
        ? '(no file of the set has its name, upper and lower case ignored: add the file to the set)'
        : '(a path without a folder names a file in the device\u2019s root folder, where no file of the set lies)';
    });
  }

  // kurvix-check --explain's text, its advice for the command line said the page's way.
  function explanationInThePage(explanation) {
    return explanation
      .replace(/, or convert it with kurvix-check --to-unicode[^\n]*/, '; or, here, read it as its encoding ' +
        '(\u201CRead it as\u201D above) and press \u201CSave for the device\u201D: it writes UTF-16LE with the ' +
        'byte-order mark FF FE and CR LF line ends.')
      .replace(/\(kurvix-check finds it there by its name/g, '(this page finds it among the files of the set by its name');
  }

  // Each hint's explanation, by id, as the page shows it: a file may give the same hint often.
  const explanations = {};

  // A hint with its grade and id; its explanation (kurvix-check --explain) opens in place.
  function hintItem(hint) {
    const item = finding(hint.line, [
      element('span', 'grade ' + hint.severity, hint.severity), document.createTextNode(' '),
      element('span', 'hint', inThePage(placesInThePage(hint.text))), document.createTextNode(' '),
      element('code', 'hint-id', '[' + hint.id + ']')
    ]);
    item.classList.add('hint-item');
    const more = element('details', 'hint-explanation');
    more.appendChild(element('summary', '', 'What \u201C' + hint.id + '\u201D means, with a wrong and a right example'));
    if (!(hint.id in explanations)) explanations[hint.id] = explanationInThePage(kurvix.explain(hint.id));
    more.appendChild(element('pre', '', explanations[hint.id]));
    item.appendChild(more);
    return item;
  }

  function renderCheck(result) {
    const loadText = result.result === 0
      ? 'The device loads this file' + (result.messages.length ? ' and shows these message boxes, one after another:' : ' without a message.')
      : 'The device refuses this file and loads nothing:';
    $('load-result').textContent = loadText;
    const summary = plural(result.bindings.length, 'binding') + ', ' + plural(result.messages.length, 'message') +
      ', ' + plural(result.hints.length, 'hint') + '.';
    // Announced to screen readers as it changes, not at every key typed.
    if ($('summary').textContent !== summary) $('summary').textContent = summary;
    // The files its NewIni bindings load, checked with it: what they hold is seen in them.
    $('set-findings').textContent = result.newIniFiles.map(function (other) {
      return other.file + ', which a NewIni loads: ' + (other.result === 0 ? '' : 'not loaded, ') +
        plural(other.messages.length, 'message') + ', ' + plural(other.hints.length, 'hint') + '.';
    }).join(' ') + (result.newIniFiles.length ? ' Choose it under \u201CFile of the set\u201D to see them.' : '');
    // A device message and the hints of its line (or, for one about the whole file, the
    // hints about the whole file) stand together: the hints say why the device says it.
    const sameLine = function (a, b) { return (a.line || 0) === (b.line || 0); };
    const messages = $('messages');
    messages.textContent = '';
    result.messages.forEach(function (message) {
      const item = finding(message.line, [
        german('caption', message.caption), document.createTextNode(' '),
        german('text', '\u201E' + message.text + '\u201C'),
        element('span', 'explain', message.explanation)
      ]);
      const explained = result.hints.filter(function (hint) { return sameLine(hint, message); });
      if (explained.length) {
        const list = element('ol', 'findings with-message');
        list.setAttribute('aria-label', 'Hints about this message');
        explained.forEach(function (hint) { list.appendChild(hintItem(hint)); });
        item.appendChild(list);
      }
      messages.appendChild(item);
    });
    const hints = $('hints');
    hints.textContent = '';
    const others = result.hints.filter(function (hint) {
      return !result.messages.some(function (message) { return sameLine(hint, message); });
    });
    others.forEach(function (hint) { hints.appendChild(hintItem(hint)); });
    if (others.length === 0) {
      hints.appendChild(element('li', 'help', result.hints.length ? 'No other hints.' : 'No hints.'));
    }

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
      const bytes = currentBytes();
      renderCheck(kurvix.check(bytes, file().name, filesBeside()));
      drawWindow(bytes);
      updateSavePreview();
      $('file-info').textContent = file().opened !== null
        ? 'Checking ' + file().openedFrom + ' as opened (' + file().encoding + '), as ' + file().name +
          '. Editing checks the text as it will be saved.'
        : 'Checking the text as it will be saved, as ' + file().name + '.';
    } catch (error) {
      setStatus('The check failed: ' + error.message, true);
    }
  }

  let pending = null;
  editor.addEventListener('input', function () {
    file().opened = null;
    file().unreadable = false;
    updateGutter();
    clearTimeout(pending);
    pending = setTimeout(function () {
      keepDraft();
      refresh();
    }, 120);
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

  // The height of a line of text as the simulated device lays it out.
  const LINE_HEIGHT = 15;

  // The window as the device draws it, frame and caption included, its top left at (0, 0);
  // the texts it shows.
  function drawFrame(g, picture) {
    const border = (picture.width - picture.client[2]) / 2;
    const caption = picture.height - picture.client[3] - 2 * border;
    g.save();
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
        // A text too wide for its rectangle comes broken into lines, each centred.
        const middle = (op.rect[1] + op.rect[3]) / 2;
        op.lines.forEach(function (line, i) {
          g.fillText(line, op.rect[0] + width / 2, middle + (i - (op.lines.length - 1) / 2) * LINE_HEIGHT);
        });
        g.restore();
        texts.push(op.text);
      } else if (op.kind === 'lines') {
        g.fillStyle = colour(op.color);
        for (let i = 1; i < op.points.length; ++i) drawSegment(g, op.points[i - 1], op.points[i]);
      }
    });
    g.restore();
    return texts;
  }

  // A canvas of width × height in CSS pixels, drawn at twice that for sharp lines at 200 %
  // zoom; returns its context, scaled so that drawing is in CSS pixels.
  function sharpContext(canvas, width, height) {
    canvas.width = width * 2;
    canvas.height = height * 2;
    const g = canvas.getContext('2d');
    g.setTransform(2, 0, 0, 2, 0, 0);
    return g;
  }

  function drawEnded(canvas, width, height) {
    const g = sharpContext(canvas, width, height);
    g.fillStyle = '#fff';
    g.fillRect(0, 0, width, height);
    g.fillStyle = '#a00000';
    g.font = '12px sans-serif';
    g.fillText('The program ends: the file is not loaded, no window.', 4, 24, width - 8);
    canvas.setAttribute('aria-label', 'No status window: the program ends because the file is not loaded.');
  }

  // The tray icon's pictures: red while the bindings work, olive while they are off.
  function trayLook(iconId) {
    const icons = kurvix.deviceFacts().trayIcons;
    if (iconId === icons.enabled) return ['#d00000', 'red: the bindings work'];
    if (iconId === icons.disabled) return ['#808000', 'olive: the bindings are off'];
    return ['#888', 'unknown'];
  }
  const TRAY_SIZE = 16;

  // Where the tray icon sits on the screen: at the right end of the task bar.
  function trayIconPlace(picture) {
    return [picture.screen[0] - TRAY_SIZE - 6, picture.screen[1] - TASK_BAR + (TASK_BAR - TRAY_SIZE) / 2];
  }

  // The device's screen: the desktop, the task bar with the tray icon, and the window where
  // the program placed it (parts outside the screen are not seen, as on the device).
  function drawScreen(picture) {
    const canvas = $('screen-picture');
    const [width, height] = picture.screen;
    const g = sharpContext(canvas, width, height);
    g.fillStyle = '#3a6ea5';
    g.fillRect(0, 0, width, height);
    g.fillStyle = '#d4d0c8';
    g.fillRect(0, height - TASK_BAR, width, TASK_BAR);
    g.fillStyle = '#fff';
    g.fillRect(0, height - TASK_BAR, width, 1);
    g.fillStyle = '#000';
    g.font = 'bold 11px Tahoma, "DejaVu Sans", sans-serif';
    g.textBaseline = 'middle';
    g.fillText('Start', 6, height - TASK_BAR / 2);
    const words = [];
    if (picture.trayIcon !== null) {
      const [x, y] = trayIconPlace(picture);
      const look = trayLook(picture.trayIcon);
      g.fillStyle = look[0];
      g.fillRect(x, y, TRAY_SIZE, TRAY_SIZE);
      g.fillStyle = '#fff';
      g.font = 'bold 10px Tahoma, "DejaVu Sans", sans-serif';
      g.textAlign = 'center';
      g.fillText('K', x + TRAY_SIZE / 2, y + TRAY_SIZE / 2 + 1);
      g.textAlign = 'start';
      words.push('the tray icon shows, ' + look[1]);
    } else {
      words.push('no tray icon');
    }
    if (picture.visible) {
      g.save();
      g.translate(picture.x, picture.y);
      drawFrame(g, picture);
      g.restore();
      const right = picture.x + picture.width, bottom = picture.y + picture.height;
      const outside = picture.x < 0 || picture.y < 0 || right > width || bottom > picture.workArea[3];
      words.unshift('the window "' + picture.title + '" at ' + picture.x + ', ' + picture.y + ', ' + picture.width +
        ' x ' + picture.height + ' pixels' + (outside ? ', partly outside the screen\u2019s work area' : ''));
    } else {
      words.unshift('the window is hidden');
    }
    const description = 'A ' + width + ' x ' + height + ' screen with the task bar: ' + words.join('; ') + '.';
    canvas.setAttribute('aria-label', description);
    $('screen-info').textContent = description;
  }

  // The user's taps on the device's screen since the program started, replayed each time.
  const device = { taps: [], picture: null };

  function drawWindow(bytes) {
    const canvas = $('window-picture');
    const screen = SCREENS[$('screen').value];
    let picture = kurvix.statusWindow(bytes, Number($('last-key').value) || 0, screen, device.taps);
    device.picture = picture.ended ? null : picture;
    if (picture.ended) {
      drawEnded(canvas, 300, 40);
      drawEnded($('screen-picture'), screen[0], screen[1]);
      $('screen-info').textContent = 'The program ends: the file is not loaded, no window.';
      return;
    }
    const g = sharpContext(canvas, picture.width, picture.height);
    const texts = drawFrame(g, picture);
    canvas.setAttribute('aria-label', 'The status window "' + picture.title + '", showing: ' + texts.join(' | ') +
      (picture.visible ? '' : ' (hidden now: tap the tray icon)'));
    drawScreen(picture);
  }
  function redrawWindow() { if (wasm !== null) drawWindow(currentBytes()); }
  $('last-key').addEventListener('input', redrawWindow);
  $('screen').addEventListener('change', redrawWindow);

  // A tap at screen point (x, y): on the window's client area or the tray icon it goes to
  // the simulated device; elsewhere it does nothing there either.
  function tapScreen(x, y) {
    const picture = device.picture;
    if (picture === null) return;
    const border = (picture.width - picture.client[2]) / 2;
    const caption = picture.height - picture.client[3] - 2 * border;
    const cx = x - picture.x - border, cy = y - picture.y - border - caption;
    const [ix, iy] = trayIconPlace(picture);
    if (picture.visible && cx >= 0 && cy >= 0 && cx < picture.client[2] && cy < picture.client[3]) {
      device.taps.push([cx, cy]);
    } else if (picture.trayIcon !== null && x >= ix && x < ix + TRAY_SIZE && y >= iy && y < iy + TRAY_SIZE) {
      device.taps.push('tray');
    } else {
      return;
    }
    redrawWindow();
  }
  $('screen-picture').addEventListener('click', function (event) {
    const canvas = event.currentTarget;
    // The picture is drawn twice the device's size, and shown scaled inside its border.
    const box = canvas.getBoundingClientRect();
    tapScreen(Math.floor((event.clientX - box.left - canvas.clientLeft) * canvas.width / 2 / canvas.clientWidth),
      Math.floor((event.clientY - box.top - canvas.clientTop) * canvas.height / 2 / canvas.clientHeight));
  });
  // The same taps from the keyboard: the middle of the D or E square, of the corner mark.
  function tapClient(where) {
    const picture = device.picture;
    if (picture === null || !picture.visible) {
      setStatus('The window is hidden: tap the tray icon first.', true);
      return;
    }
    const w = picture.client[2], h = picture.client[3];
    const off = picture.ops.some(function (op) { return op.kind === 'text' && op.text === 'E'; });
    device.taps.push(where === 'mark' ? [w - 9, h - 9] : [w - 9, off ? 27 : 9]);
    redrawWindow();
  }
  $('tap-switch').addEventListener('click', function () { tapClient('switch'); });
  $('tap-mark').addEventListener('click', function () { tapClient('mark'); });
  $('tap-tray').addEventListener('click', function () {
    if (device.picture === null || device.picture.trayIcon === null) {
      setStatus('There is no tray icon to tap: the window shows.', true);
      return;
    }
    device.taps.push('tray');
    redrawWindow();
  });
  $('tap-restart').addEventListener('click', function () {
    device.taps = [];
    redrawWindow();
  });

  // ---- Presses ----
  // What the device did, in the command line's own words (the event's sentence).
  function describeEvent(event) {
    return document.createTextNode(event.sentence);
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
  // events of presses from `from` on are shown (those of start-up with the first).
  function runPresses(count, from) {
    const steps = $('press-steps');
    steps.textContent = '';
    if (count === 0) {
      steps.appendChild(element('li', 'help', 'Add a press first.'));
      return;
    }
    let events;
    try {
      events = kurvix.press(currentBytes(), state.presses.slice(0, count), file().name, filesBeside());
    } catch (error) {
      steps.appendChild(element('li', 'error', error.message));
      return;
    }
    events.forEach(function (event) {
      if (event.press < from && !(event.press === 0 && from === 1)) return;  // shown at an earlier step
      const who = event.press === 0 ? 'Start-up' : 'Press ' + event.press + ' (key ' + event.key + ', ' + event.ms + ' ms)';
      const item = element('li');
      item.appendChild(element('span', 'who', who + ': '));
      item.appendChild(describeEvent(event));
      steps.appendChild(item);
    });
    if (events.length === 0 || events[events.length - 1].press < count) {
      steps.appendChild(element('li', 'help', 'The program ended before the remaining presses.'));
    }
    const strips = $('press-timelines');
    strips.textContent = '';
    strips.appendChild(element('p', 'help', 'Each press over time. Blue bar: the key held, white ticks its repeats; ' +
      'grey ticks: the program looking at the key; brown line: ElapseTime; dotted line: ElapseTime + CheckIntervall; ' +
      'diamond: the moment the program ran the binding (green) or handed the key back (red).'));
    kurvix.timeline(currentBytes(), state.presses.slice(0, count), file().name, filesBeside()).forEach(function (timeline) {
      if (timeline.press >= from) strips.appendChild(timelineStrip(timeline, whyUncaught(events, timeline.press)));
    });
  }

  // ---- A press over time ----
  const STRIP = { width: 640, height: 78, left: 8, right: 8 };

  // uncaught: why the program did not catch the key, or '' when it did.
  function timelineWords(t, uncaught) {
    const parts = ['key down at 0 ms', t.up === null ? 'still down when the run ended' : 'up at ' + t.up + ' ms'];
    parts.push(plural(t.repeatCount, 'repeat'));
    if (uncaught) return parts.join(', ') + '; the program did not catch the key: ' + uncaught + '.';
    parts.push(plural(t.pollCount, 'poll') + (t.pollCount ? ' (every ' + t.checkInterval + ' ms)' : ''));
    parts.push('ElapseTime ' + t.elapseTime + ' ms');
    if (t.outcome === 'ran') parts.push('the binding\u2019s actions ran at ' + t.outcomeAt + ' ms');
    if (t.outcome === 'handed-back') parts.push('the key was handed back at ' + t.outcomeAt + ' ms');
    if (t.outcome === null) parts.push('nothing ran and nothing was handed back');
    return parts.join(', ') + '.';
  }

  // A label beside the mark at x, on the side where it fits in the strip: after the mark
  // unless it would run past the right edge, then before it.
  function labelBeside(g, label, x, gap, y) {
    const fits = x + gap + g.measureText(label).width <= STRIP.width - 2;
    g.textAlign = fits ? 'left' : 'right';
    g.fillText(label, fits ? x + gap : x - gap, y);
    g.textAlign = 'left';
  }

  // Why nothing caught a press: the event that says so, and what went before it. '' when
  // the program caught the key.
  function whyUncaught(events, press) {
    const missed = events.find(function (event) { return event.press === press && event.event === 'not-caught'; });
    if (missed === undefined) return '';
    let failed = null;
    events.forEach(function (event) {
      if (event.press < press && (event.event === 'loaded' || event.event === 'load-failed')) {
        failed = event.event === 'load-failed' ? event : null;
      }
    });
    return failed !== null
      ? 'nothing has been bound since the load of ' + failed.file + ' failed, so no hold makes it act'
      : 'no binding has key ' + missed.key + ', or the bindings are off, so no hold makes it act';
  }

  // One strip: the hold as a bar with the key's repeats on it, the polls below it, the
  // ElapseTime mark, and the moment the program acted; for a press the program did not catch
  // (uncaught says why), the hold and its repeats alone, and no hold to promise.
  function timelineStrip(t, uncaught) {
    const figure = element('figure', 'strip');
    const canvas = element('canvas');
    const span = (uncaught ? t.ms : Math.max(t.ms, t.holdAtLeast, t.outcomeAt || 0)) + t.checkInterval;
    const x = function (ms) { return STRIP.left + ms / span * (STRIP.width - STRIP.left - STRIP.right); };
    const g = sharpContext(canvas, STRIP.width, STRIP.height);
    g.fillStyle = '#fff';
    g.fillRect(0, 0, STRIP.width, STRIP.height);
    g.font = '10px system-ui, sans-serif';
    g.textBaseline = 'top';
    // The hold, with a tick for every repeat of the key.
    g.fillStyle = '#0b5cad';
    g.fillRect(x(0), 14, x(t.up === null ? t.ms : t.up) - x(0), 14);
    g.fillStyle = '#fff';
    t.repeats.forEach(function (ms) { g.fillRect(x(ms), 16, 1, 10); });
    // Every poll of the key.
    g.fillStyle = '#4a4a4a';
    t.polls.forEach(function (ms) { g.fillRect(x(ms), 32, 1, 8); });
    // ElapseTime, and the hold that is sure to count as long.
    if (!uncaught) {
      g.fillStyle = '#8a4b00';
      g.fillRect(x(t.elapseTime), 4, 1, 44);
      labelBeside(g, 'ElapseTime ' + t.elapseTime, x(t.elapseTime), 2, 2);
      g.fillStyle = '#1b1b1b';
      for (let y = 4; y < 48; y += 4) g.fillRect(x(t.holdAtLeast), y, 1, 2);
    }
    if (t.outcome !== null) {
      g.fillStyle = t.outcome === 'ran' ? '#007a00' : '#a00000';
      g.beginPath();
      g.moveTo(x(t.outcomeAt), 44);
      g.lineTo(x(t.outcomeAt) + 5, 50);
      g.lineTo(x(t.outcomeAt), 56);
      g.lineTo(x(t.outcomeAt) - 5, 50);
      g.fill();
      labelBeside(g, t.outcome === 'ran' ? 'ran' : 'handed back', x(t.outcomeAt), 7, 45);
    }
    g.fillStyle = '#4a4a4a';
    g.fillText('0 ms', x(0), 62);
    g.textAlign = 'right';
    g.fillText(span + ' ms', x(span), 62);
    canvas.setAttribute('role', 'img');
    const words = timelineWords(t, uncaught);
    canvas.setAttribute('aria-label', 'Press ' + t.press + ' over time: ' + words);
    figure.appendChild(canvas);
    const caption = element('figcaption');
    caption.appendChild(element('span', 'who', 'Press ' + t.press + ' (key ' + t.key + ', ' + t.ms + ' ms): '));
    caption.appendChild(document.createTextNode(words + ' '));
    caption.appendChild(uncaught ? element('strong', 'sure', 'No hold of key ' + t.key + ' acts here.')
      : element('strong', 'sure', 'Hold at least ' + t.holdAtLeast + ' ms to be sure.'));
    figure.appendChild(caption);
    return figure;
  }

  $('press-add').addEventListener('click', function () {
    const key = Number($('press-key').value);
    const ms = Number($('press-ms').value);
    if (!Number.isInteger(key) || !Number.isInteger(ms) || key < FIRST_KEY || key > LAST_KEY || ms < 0 ||
        ms > MOST_MS_BY_HAND) {
      setStatus('A press needs a key code from ' + FIRST_KEY + ' to ' + LAST_KEY + ' and a hold of up to ' +
        MOST_MS_BY_HAND + ' ms, in whole numbers.', true);
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
    $('press-timelines').textContent = '';
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
  $('encoding').addEventListener('change', function () { if (file().opened !== null) showOpened(file()); });
  // A file dropped anywhere on the page opens: the browser would otherwise leave the page
  // for the file and lose the text.
  const drop = $('drop');
  document.addEventListener('dragover', function (event) {
    event.preventDefault();
    drop.classList.add('dragging');
  });
  document.addEventListener('dragleave', function () { drop.classList.remove('dragging'); });
  document.addEventListener('drop', function (event) {
    event.preventDefault();
    drop.classList.remove('dragging');
    // One file opens into the file in the editor; several join the set.
    const dropped = event.dataTransfer.files;
    if (dropped.length === 1) openFile(dropped[0]);
    if (dropped.length > 1) addFiles(dropped);
  });
  // The name Save gives the file: Kurvix.ini unless the author names another.
  function saveName() {
    const name = $('save-name').value.trim();
    const error = fileNameError(name);
    return error ? { error: error } : { name: name };
  }

  function hex(bytes, count) {
    return Array.from(bytes.subarray(0, count), function (b) { return b.toString(16).toUpperCase().padStart(2, '0'); }).join(' ');
  }

  // What Save writes, told from the bytes themselves: size, first bytes, line ends.
  function describeSaved(name, bytes) {
    let crlf = 0, lone = 0;
    for (let i = 2; i + 1 < bytes.length; i += 2) {
      const unit = bytes[i] | bytes[i + 1] << 8;
      const next = i + 3 < bytes.length ? bytes[i + 2] | bytes[i + 3] << 8 : -1;
      if (unit === 13 && next === 10) {
        ++crlf;
        i += 2;
      } else if (unit === 13 || unit === 10) {
        ++lone;
      }
    }
    const ends = crlf === 0 && lone === 0 ? 'no line ends (one line)'
      : lone === 0 ? 'line ends CR LF (' + crlf + ')' : crlf + ' line ends CR LF and ' + lone + ' others';
    return name + ': ' + bytes.length.toLocaleString('en') + ' bytes, UTF-16LE with byte-order mark, ' + ends +
      '; it begins ' + hex(bytes, 16) + (bytes.length > 16 ? ' \u2026' : '');
  }

  function updateSavePreview() {
    const name = saveName();
    $('save-preview').textContent = file().unreadable ? 'Nothing to save: the file could not be read as chosen.'
      : name.error ? name.error : 'Save for the device writes ' + describeSaved(name.name, kurvix.deviceFormat(editor.value));
  }
  $('save-name').addEventListener('input', function () { if (wasm !== null) updateSavePreview(); });

  function download(bytes, name) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    link.download = name;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 10000);
  }

  $('save').addEventListener('click', function () {
    // The editor is empty because the file could not be read: saving would write nothing.
    if (file().unreadable) {
      setStatus('Nothing saved: ' + file().openedFrom + ' ' + file().encoding + '. Choose how to read it first.', true);
      return;
    }
    const name = saveName();
    if (name.error) {
      setStatus('Nothing saved: ' + name.error, true);
      $('save-name').focus();
      return;
    }
    const bytes = kurvix.deviceFormat(editor.value);
    download(bytes, name.name);
    file().openedFrom = name.name;
    file().opened = bytes;
    file().baseline = editor.value;
    file().encoding = 'UTF-16LE with byte-order mark, as saved';
    keepDraft();
    refresh();
    setStatus('Saved ' + describeSaved(name.name, bytes) + '.');
  });

  // ---- Download for devices ------------------------------------------------------------------
  // The configuration files the cab carries, as the device reads them: Kurvix.ini first.
  // The text of each file is saved as the device reads it, as Save does.
  function currentFiles() {
    const files = {};
    state.files.forEach(function (entry) { files[entry.name] = kurvix.deviceFormat(textOf(entry)); });
    return files;
  }

  $('cab-folder').value = KURVIX_DEVICE.installation.defaultInstallDir;
  function showLaunchNumber() { $('cab-launch').disabled = $('cab-variant').value !== 'registry'; }
  $('cab-variant').addEventListener('change', showLaunchNumber);
  showLaunchNumber();

  $('cab-download').addEventListener('click', function () {
    const unreadable = state.files.filter(function (entry) { return entry.unreadable; })[0];
    if (unreadable) {
      setStatus('No cab made: ' + unreadable.openedFrom + ' ' + unreadable.encoding + '. Choose how to read it first.', true);
      return;
    }
    const options = { variant: $('cab-variant').value, installDir: $('cab-folder').value,
      launch: Number($('cab-launch').value) };
    let cab;
    try {
      try {
        cab = kurvix.deviceCab(currentFiles(), options);
      } catch (error) {
        if (!error.findings) throw error;
        const question = 'kurvix-check finds errors or warnings in this configuration (' + error.findings.length + '):\n\n' +
          error.findings.join('\n') + '\n\nPack it into the cab all the same?';
        if (!window.confirm(question)) {
          setStatus('No cab made: the configuration has errors or warnings (see Hints).', true);
          return;
        }
        options.ignoreFindings = true;
        cab = kurvix.deviceCab(currentFiles(), options);
      }
    } catch (error) {
      setStatus('No cab made: ' + error.message, true);
      return;
    }
    download(cab.bytes, cab.name);
    $('cab-info').textContent = cab.name + ': ' + cab.bytes.length.toLocaleString('en') + ' bytes, installs into ' +
      options.installDir + '.';
    setStatus('Saved ' + cab.name + '.');
  });

  kurvix.ready.then(function () {
    const texts = kurvix.deviceFacts().texts;
    document.querySelectorAll('[data-device-text]').forEach(function (element) {
      element.textContent = texts[element.dataset.deviceText];
    });
    setStatus('Ready. The device runs in this page.');
    renderPresses();
    renderSet();
    refresh();
    offerDraft();
  }, function (error) { setStatus(error.message, true); });
})();

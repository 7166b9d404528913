// The one writer of Kurvix's Windows CE installation cabs: packaging/make_cab.py runs it with
// node, and the companion page carries the same file, so a cab from either is the same bytes.
//
//   deviceCab(installation, files, options) -> {bytes, name}
//
// installation: what installing Kurvix does, as packaging/kurvix_setup.py describes it
// (`kurvix_setup.py --json`). files: [[name, Uint8Array], ...], the program first, then
// Kurvix.ini, then further configuration files. options: {variant: "startup" | "registry",
// installDir, launch} (launch: the registry variant's Launch number). Throws an Error whose
// message says what a cab cannot hold.
//
// A Windows CE cab is a Microsoft cabinet without compression whose first file is the setup
// description NAME.000; every other file is named NAME.NNN, NNN its file number, and the cab
// holds them in descending order of that number. The setup description is little-endian: a
// 100-byte header ("MSCE", its own length, the processor, the version bounds, then a count and
// an offset for each section: strings, folders, files, registry keys, registry values,
// shortcuts), then the application and provider names and the sections. Paths and key names
// are lists of string numbers ending in 0, so a folder name is stored once.
(function (exports) {
  'use strict';

  const HEADER_SIZE = 100;
  const HKEY_LOCAL_MACHINE = 3;
  const LINK_TO_FILE = 1;
  const INSTALL_DIR_ID = 1;
  const INSTALL_DIR_VARIABLE = '%InstallDir%';
  const REG_TYPE_SZ = 0x00000000;
  const REG_TYPE_BINARY = 0x00000001;
  const STANDARD_FOLDER = /^%CE([1-9]|1[0-7])%$/;
  // A cabinet's data blocks hold at most 32 KiB each.
  const BLOCK = 0x8000;
  // No clock in the cab: the same files give the same bytes. 1980-01-01 00:00, the first day
  // a cabinet's date can say; the program's copy flags ignore dates.
  const DOS_DATE = (0 << 9) | (1 << 5) | 1;
  const ARCHIVE_ATTRIBUTE = 0x20;

  class Bytes {
    constructor() { this.parts = []; this.length = 0; }
    push(array) { this.parts.push(array); this.length += array.length; return this; }
    u8(n) { return this.push(Uint8Array.of(n & 0xFF)); }
    u16(n) { return this.push(Uint8Array.of(n & 0xFF, (n >>> 8) & 0xFF)); }
    u32(n) { return this.push(Uint8Array.of(n & 0xFF, (n >>> 8) & 0xFF, (n >>> 16) & 0xFF, (n >>> 24) & 0xFF)); }
    u16s(numbers) { numbers.forEach((n) => this.u16(n)); return this; }
    zstr(text) { return this.push(ascii(text)).u8(0); }
    bytes() {
      const out = new Uint8Array(this.length);
      let at = 0;
      for (const part of this.parts) { out.set(part, at); at += part.length; }
      return out;
    }
  }

  function ascii(text) {
    const out = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) out[i] = text.charCodeAt(i);
    return out;
  }

  function plainAscii(text) { return /^[ -~]*$/.test(text); }

  // The parts of installDir that a cab joins with backslashes: for an absolute device path the
  // folder names, the first with its leading backslash (\Speicher, Kurvix); for one in a
  // standard folder "%CEn%" and the folder names (%CE1%, Kurvix).
  function installDirParts(installation, installDir) {
    const forbidden = installation.forbiddenInNames;
    const path = installDir.length > 1 && installDir.endsWith('\\') ? installDir.slice(0, -1) : installDir;
    let parts;
    let first;
    if (path.startsWith('\\\\')) throw new Error('a network path cannot be an install folder: ' + installDir);
    if (path.startsWith('\\')) {
      parts = path.slice(1).split('\\');
      first = 0;
    } else if (STANDARD_FOLDER.test(path.split('\\')[0])) {
      parts = path.split('\\');
      first = 1;
    } else {
      throw new Error('the install folder must be an absolute device path such as \\Speicher\\Kurvix ' +
        '(or %CE1%\\Kurvix): ' + installDir);
    }
    if (parts.length === 1 && parts[0] === '') {
      throw new Error('the install folder cannot be the root folder: name a folder, such as \\Speicher\\Kurvix');
    }
    for (const part of parts.slice(first)) {
      if (part === '' || part === '.' || part === '..' || part.endsWith(' ') || part.endsWith('.')) {
        throw new Error('the install folder has an empty or invalid folder name ("' + part + '"): ' + installDir);
      }
      const bad = Array.from(part).find((c) => forbidden.includes(c) || !plainAscii(c));
      if (bad !== undefined) {
        throw new Error('a cab holds folder names in plain ASCII without ' + Array.from(forbidden).sort().join('') +
          '; "' + bad + '" in ' + installDir + ' cannot be installed');
      }
    }
    return { path: path, parts: first ? parts : ['\\' + parts[0]].concat(parts.slice(1)) };
  }

  // The files to install: the program, Kurvix.ini, then further configuration files, each
  // under a name the device can hold; the configuration files never replace one on the device.
  function installedFiles(installation, files, installPath) {
    if (!Array.isArray(files) || files.length < 2) {
      throw new Error('a cab needs the program and ' + installation.configuration.name);
    }
    const wanted = [installation.program.name, installation.configuration.name];
    const seen = new Set();
    return files.map(function (file, index) {
      const [name, bytes] = file;
      if (index < 2 && name !== wanted[index]) {
        throw new Error('file ' + (index + 1) + ' of a cab must be ' + wanted[index] + ', not ' + name);
      }
      if (!(bytes instanceof Uint8Array)) throw new Error('the bytes of ' + name + ' must be a Uint8Array');
      if (typeof name !== 'string' || name === '' || name.endsWith('.') || name.endsWith(' ') ||
          !plainAscii(name) || Array.from(name).some((c) => installation.forbiddenInNames.includes(c) || c === '\\')) {
        throw new Error('a cab installs files under plain ASCII names without \\ or ' +
          installation.forbiddenInNames + ': ' + JSON.stringify(name) + ' cannot be installed');
      }
      if (seen.has(name.toLowerCase())) {
        throw new Error(name + ' is in the cab twice (the device ignores upper and lower case)');
      }
      seen.add(name.toLowerCase());
      if (index > 0 && !(bytes[0] === 0xFF && bytes[1] === 0xFE)) {
        throw new Error(name + ' is not UTF-16LE with a byte-order mark, the only form the device reads: ' +
          'save it as "Unicode" (kurvix-check says more)');
      }
      if (installPath.length + 1 + name.length >= installation.maxPath) {
        throw new Error('the install folder is too long for Windows CE: the path of a file in it must stay under ' +
          installation.maxPath + ' characters: ' + installPath + '\\' + name);
      }
      const flags = index === 0 ? installation.program.flags : installation.configuration.flags;
      return { name: name, bytes: bytes, flags: flags };
    });
  }

  function launchNumber(installation, launch) {
    const bounds = installation.launch;
    const number = launch === undefined || launch === null ? bounds.default : launch;
    if (!Number.isInteger(number) || number < bounds.least || number > bounds.most) {
      throw new Error('the Launch number must be a whole number from ' + bounds.least + ' to ' + bounds.most +
        ' (started after the shell, Launch' + bounds.shell + '): ' + launch);
    }
    return number;
  }

  // HKLM\Init LaunchN = the program, DependN = the shell's number as a 16-bit word.
  function launchValues(installation, number) {
    const launch = installation.launch;
    return [
      { key: launch.key, name: 'Launch' + number, type: REG_TYPE_SZ, flags: launch.flags,
        data: INSTALL_DIR_VARIABLE + '\\' + installation.program.name },
      { key: launch.key, name: 'Depend' + number, type: REG_TYPE_BINARY, flags: launch.flags,
        data: Uint8Array.of(launch.shell & 0xFF, launch.shell >>> 8) },
    ];
  }

  class Strings {
    constructor() { this.ids = new Map(); }
    id(text) {
      if (!this.ids.has(text)) this.ids.set(text, this.ids.size + 1);
      return this.ids.get(text);
    }
    path(parts) { return parts.map((part) => this.id(part)).concat([0]); }
  }

  function setupDescription(installation, variant, dirParts, files, registry) {
    const strings = new Strings();
    const folders = [[INSTALL_DIR_ID, strings.path(dirParts)]];
    const fileEntries = files.map((file, i) => new Bytes().u16(i + 1).u16(INSTALL_DIR_ID).u16(i + 1)
      .u32(file.flags).u16(file.name.length + 1).zstr(file.name));

    const hives = [];
    const values = registry.map(function (value, i) {
      const key = strings.path(value.key.split('\\'));
      let hive = hives.find((h) => h.key.join() === key.join());
      if (hive === undefined) {
        hive = { id: hives.length + 1, key: key };
        hives.push(hive);
      }
      const substitute = value.type === REG_TYPE_SZ && value.data.includes(INSTALL_DIR_VARIABLE) ? 1 : 0;
      const data = new Bytes().zstr(value.name);
      if (typeof value.data === 'string') data.zstr(value.data); else data.push(value.data);
      return new Bytes().u16(i + 1).u16(hive.id).u16(substitute).u32(value.type | value.flags).u16(data.length)
        .push(data.bytes());
    });

    const links = [];
    if (variant.shortcut) {
      // The name carries ".lnk": the shell runs only .lnk files from StartUp, and a loader that
      // adds the extension itself still makes a working shortcut.
      const name = strings.path([installation.shortcutName + '.lnk']);
      // The length leaves out the closing 0 that follows the name: a Windows CE cab reader
      // tried with a hand-made cab read shortcuts only so. Folders count it.
      links.push(new Bytes().u16(1).u16(0).u16(installation.startupFolder).u16(1).u16(LINK_TO_FILE)
        .u16(2 * (name.length - 1)).u16s(name));
    }

    const sections = [
      Array.from(strings.ids, ([text, id]) => new Bytes().u16(id).u16(text.length + 1).zstr(text)),
      folders.map(([id, path]) => new Bytes().u16(id).u16(2 * path.length).u16s(path)),
      fileEntries,
      hives.map((hive) => new Bytes().u16(hive.id).u16(HKEY_LOCAL_MACHINE).u16(0).u16(2 * hive.key.length)
        .u16s(hive.key)),
      values,
      links,
    ];
    const body = new Bytes().zstr(installation.appName).zstr(installation.provider);
    const offsets = sections.map(function (entries) {
      const at = HEADER_SIZE + body.length;
      entries.forEach((entry) => body.push(entry.bytes()));
      return at;
    });
    const appOffset = HEADER_SIZE;
    const providerOffset = appOffset + installation.appName.length + 1;
    const unsupportedOffset = providerOffset + installation.provider.length + 1;
    const header = new Bytes().push(ascii('MSCE')).u32(0).u32(HEADER_SIZE + body.length).u32(0).u32(1)
      .u32(installation.processor)
      .u32(installation.minVersion[0]).u32(installation.minVersion[1])
      .u32(installation.maxVersion[0]).u32(installation.maxVersion[1])
      .u32(installation.buildBounds[0]).u32(installation.buildBounds[1])
      .u16s(sections.map((entries) => entries.length));
    offsets.forEach((offset) => header.u32(offset));
    header.u16s([appOffset, installation.appName.length + 1, providerOffset, installation.provider.length + 1,
      unsupportedOffset, 0, 0, 0]);
    return header.push(body.bytes()).bytes();
  }

  // The 8.3 name of a file in the cab: up to eight letters and digits of its name, padded on
  // the left with 0, and its number as the extension.
  function memberName(name, number) {
    const dot = name.lastIndexOf('.');
    const stem = (dot > 0 ? name.slice(0, dot) : name).replace(/[^A-Za-z0-9]/g, '').slice(0, 8);
    return stem.padStart(8, '0') + '.' + String(number).padStart(3, '0');
  }

  // The cabinet's checksum of a data block: its bytes as little-endian 32-bit words XORed,
  // the last one to three bytes taken high byte first.
  function checksum(bytes, seed) {
    let sum = seed;
    const whole = bytes.length & ~3;
    for (let i = 0; i < whole; i += 4) {
      sum ^= bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) | (bytes[i + 3] << 24);
    }
    let rest = 0;
    for (let i = whole; i < bytes.length; ++i) rest = (rest << 8) | bytes[i];
    return (sum ^ rest) >>> 0;
  }

  // A Microsoft cabinet of one folder, stored without compression.
  function cabinet(members) {
    const headerSize = 36;
    const folderSize = 8;
    const entries = members.map(([name]) => 16 + name.length + 1).reduce((a, b) => a + b, 0);
    const data = new Bytes();
    members.forEach(([, bytes]) => data.push(bytes));
    const all = data.bytes();
    const blocks = [];
    for (let at = 0; at < all.length || blocks.length === 0; at += BLOCK) blocks.push(all.subarray(at, at + BLOCK));
    const dataStart = headerSize + folderSize + entries;
    const size = dataStart + blocks.reduce((sum, block) => sum + 8 + block.length, 0);
    const out = new Bytes().push(ascii('MSCF')).u32(0).u32(size).u32(0).u32(headerSize + folderSize).u32(0)
      .u8(3).u8(1).u16(1).u16(members.length).u16(0).u16(0).u16(0);
    out.u32(dataStart).u16(blocks.length).u16(0);
    let offset = 0;
    for (const [name, bytes] of members) {
      out.u32(bytes.length).u32(offset).u16(0).u16(DOS_DATE).u16(0).u16(ARCHIVE_ATTRIBUTE).zstr(name);
      offset += bytes.length;
    }
    for (const block of blocks) {
      const sizes = Uint8Array.of(block.length & 0xFF, block.length >>> 8, block.length & 0xFF, block.length >>> 8);
      out.u32(checksum(sizes, checksum(block, 0))).push(sizes).push(block);
    }
    return out.bytes();
  }

  function deviceCab(installation, files, options) {
    const settings = options || {};
    const variant = installation.variants.find((v) => v.name === (settings.variant || 'startup'));
    if (variant === undefined) {
      throw new Error('the variant must be one of ' + installation.variants.map((v) => v.name).join(', ') +
        ': ' + settings.variant);
    }
    const dir = installDirParts(installation, settings.installDir || installation.defaultInstallDir);
    const installed = installedFiles(installation, files, dir.path);
    const registry = variant.registry ? launchValues(installation, launchNumber(installation, settings.launch)) : [];
    const members = [[memberName(installation.appName, 0),
      setupDescription(installation, variant, dir.parts, installed, registry)]];
    for (let i = installed.length; i >= 1; --i) members.push([memberName(installed[i - 1].name, i), installed[i - 1].bytes]);
    return { bytes: cabinet(members), name: variant.cab };
  }

  exports.deviceCab = deviceCab;

  // node packaging/device_cab.js VARIANT < request.json > VARIANT.cab, the request being
  // {"installation": ..., "files": [[name, base64], ...], "options": {...}}.
  if (typeof require !== 'undefined' && typeof module !== 'undefined' && require.main === module) {
    const chunks = [];
    process.stdin.on('data', (chunk) => chunks.push(chunk));
    process.stdin.on('end', function () {
      try {
        const request = JSON.parse(Buffer.concat(chunks).toString('utf8'));
        const files = request.files.map(([name, base64]) => [name, new Uint8Array(Buffer.from(base64, 'base64'))]);
        const cab = deviceCab(request.installation, files, Object.assign({}, request.options, { variant: process.argv[2] }));
        process.stdout.write(cab.bytes);
      } catch (error) {
        process.stderr.write(error.message + '\n');
        process.exitCode = 1;
      }
    });
  }
})(typeof module !== 'undefined' ? module.exports : (this.kurvixDeviceCab = {}));

'use strict';

// Where the client finds zul-process: the "binary" option, else ZUL_PROCESS_BINARY, else the
// folders of PATH. A path given by the option or the variable is final: when nothing is there
// the search stops with an error rather than running some other zul-process from PATH.

const fs = require('node:fs');
const path = require('node:path');
const { ZulProcessError, codes } = require('./errors');

const NAME = 'zul-process';

function findBinary({ binary, env, platform = process.platform }) {
  const windows = platform === 'win32';
  const extensions = windows ? startableExtensions(lookup(env, 'PATHEXT', windows)) : [];
  if (binary !== undefined) {
    return givenPath(path.resolve(binary), extensions, 'the binary option');
  }
  const fromEnv = lookup(env, 'ZUL_PROCESS_BINARY', windows);
  if (fromEnv) {
    return givenPath(path.resolve(fromEnv), extensions, 'ZUL_PROCESS_BINARY');
  }
  const folders = pathFolders(lookup(env, 'PATH', windows), windows);
  const names = windows ? extensions.map((extension) => NAME + extension) : [NAME];
  for (const folder of folders) {
    for (const name of names) {
      const candidate = path.join(folder, name);
      if (isFile(candidate) && (windows || isExecutable(candidate))) return candidate;
    }
  }
  const where = folders.length ? folders.join(windows ? ';' : ':') : 'no folder: PATH is empty';
  throw new ZulProcessError(codes.NOT_FOUND,
    `${NAME} not found: no binary option, ZUL_PROCESS_BINARY not set, and no executable ` +
    `${names.join(' or ')} in the folders of PATH (looked in ${where})`);
}

// A path named by the caller: as it is, or on Windows also with an extension, as a shell would.
function givenPath(resolved, extensions, source) {
  for (const candidate of [resolved, ...extensions.map((extension) => resolved + extension)]) {
    if (isFile(candidate)) return candidate;
  }
  throw new ZulProcessError(codes.NOT_FOUND,
    `${NAME} not found: ${source} names ${resolved}, which is not a file`);
}

// Windows environments ignore the case of names ("Path"); a caller's plain object does not.
function lookup(env, name, windows) {
  if (!windows) return env[name];
  const key = Object.keys(env).find((k) => k.toUpperCase() === name);
  return key === undefined ? undefined : env[key];
}

// Of PATHEXT, only what Node starts without a shell: a .bat or .cmd would need cmd.exe.
function startableExtensions(pathext) {
  const listed = (pathext || '.COM;.EXE').split(';').map((e) => e.trim().toLowerCase());
  const startable = listed.filter((e) => e === '.exe' || e === '.com');
  return startable.length ? startable : ['.exe'];
}

// An empty entry would mean the current folder, which a search for a helper should not trust.
function pathFolders(value, windows) {
  if (!value) return [];
  return value.split(windows ? ';' : ':')
    .map((folder) => (windows ? folder.replace(/^"(.*)"$/, '$1') : folder))
    .filter((folder) => folder !== '');
}

function isFile(candidate) {
  try {
    return fs.statSync(candidate).isFile();
  } catch {
    return false;
  }
}

function isExecutable(candidate) {
  try {
    fs.accessSync(candidate, fs.constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

module.exports = { findBinary };

'use strict';
// Where the client looks for zul-process, in its order, and what it says when nothing is there.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { findBinary } = require('../lib/binary');
const { createClient, codes } = require('..');
const { temporaryFolder } = require('./helpers');

// A folder tree: each entry "relative/path" is an executable file, "relative/path:644" a file
// that is not executable, "relative/path/" a folder.
function tree(t, entries) {
  const root = temporaryFolder(t);
  for (const entry of entries) {
    const [name, mode = '755'] = entry.split(':');
    const full = path.join(root, name);
    if (name.endsWith('/')) {
      fs.mkdirSync(full, { recursive: true });
    } else {
      fs.mkdirSync(path.dirname(full), { recursive: true });
      fs.writeFileSync(full, '');
      fs.chmodSync(full, parseInt(mode, 8));
    }
  }
  return root;
}

test('the first place that names a binary decides', async (t) => {
  const cases = [
    {
      name: 'the option, before the variable and PATH',
      files: ['opt/zp', 'env/zp', 'a/zul-process'],
      options: (r) => ({ binary: `${r}/opt/zp`, env: { ZUL_PROCESS_BINARY: `${r}/env/zp`, PATH: `${r}/a` } }),
      found: 'opt/zp',
    },
    {
      name: 'the variable, before PATH',
      files: ['env/zp', 'a/zul-process'],
      options: (r) => ({ env: { ZUL_PROCESS_BINARY: `${r}/env/zp`, PATH: `${r}/a` } }),
      found: 'env/zp',
    },
    {
      name: 'an empty variable counts as unset',
      files: ['a/zul-process'],
      options: (r) => ({ env: { ZUL_PROCESS_BINARY: '', PATH: `${r}/a` } }),
      found: 'a/zul-process',
    },
    {
      name: 'PATH in its order, past a file that is not executable, a folder and an empty entry',
      files: ['a/zul-process:644', 'b/zul-process/', 'c/zul-process', 'd/zul-process'],
      options: (r) => ({ env: { PATH: `${r}/a::${r}/b:${r}/c:${r}/d` } }),
      found: 'c/zul-process',
    },
    {
      name: 'Windows: the Path variable whatever its case, PATHEXT in its order, no .cmd',
      platform: 'win32',
      files: ['a/zul-process.cmd', 'b/zul-process.com', 'b/zul-process.exe'],
      options: (r) => ({ env: { Path: `${r}/a;"${r}/b"`, PathExt: '.CMD;.EXE;.COM' } }),
      found: 'b/zul-process.exe',
    },
    {
      name: 'Windows: .exe when PATHEXT is unset',
      platform: 'win32',
      files: ['a/zul-process', 'b/zul-process.exe'],
      options: (r) => ({ env: { PATH: `${r}/a;${r}/b` } }),
      found: 'b/zul-process.exe',
    },
    {
      name: 'Windows: an option without its extension',
      platform: 'win32',
      files: ['opt/zul-process.exe'],
      options: (r) => ({ binary: `${r}/opt/zul-process`, env: {} }),
      found: 'opt/zul-process.exe',
    },
  ];
  for (const c of cases) {
    await t.test(c.name, (t) => {
      const root = tree(t, c.files);
      assert.equal(findBinary({ ...c.options(root), platform: c.platform }), path.join(root, c.found));
    });
  }
});

test('an empty entry of PATH does not mean the current folder', (t) => {
  const root = tree(t, ['here/zul-process', 'c/zul-process']);
  const before = process.cwd();
  process.chdir(path.join(root, 'here'));
  t.after(() => process.chdir(before));
  assert.equal(findBinary({ env: { PATH: `:${root}/c` } }), path.join(root, 'c/zul-process'));
});

test('nothing found: the error says where the client looked', async (t) => {
  const cases = [
    {
      name: 'an option naming nothing does not fall back to PATH',
      files: ['a/zul-process'],
      options: (r) => ({ binary: `${r}/missing`, env: { PATH: `${r}/a` } }),
      message: (r) => `zul-process not found: the binary option names ${r}/missing, which is not a file`,
    },
    {
      name: 'nor does the variable',
      files: ['a/zul-process', 'dir/'],
      options: (r) => ({ env: { ZUL_PROCESS_BINARY: `${r}/dir`, PATH: `${r}/a` } }),
      message: (r) => `zul-process not found: ZUL_PROCESS_BINARY names ${r}/dir, which is not a file`,
    },
    {
      name: 'PATH: every folder searched',
      files: ['a/', 'b/zul-process:600'],
      options: (r) => ({ env: { PATH: `${r}/a:${r}/b` } }),
      message: (r) => 'zul-process not found: no binary option, ZUL_PROCESS_BINARY not set, and no ' +
        `executable zul-process in the folders of PATH (looked in ${r}/a:${r}/b)`,
    },
    {
      name: 'PATH unset',
      files: [],
      options: () => ({ env: {} }),
      message: () => 'zul-process not found: no binary option, ZUL_PROCESS_BINARY not set, and no ' +
        'executable zul-process in the folders of PATH (looked in no folder: PATH is empty)',
    },
    {
      name: 'Windows: the names tried',
      platform: 'win32',
      files: ['a/'],
      options: (r) => ({ env: { PATH: `${r}/a`, PATHEXT: '.COM;.EXE;.BAT' } }),
      message: (r) => 'zul-process not found: no binary option, ZUL_PROCESS_BINARY not set, and no ' +
        `executable zul-process.com or zul-process.exe in the folders of PATH (looked in ${r}/a)`,
    },
  ];
  for (const c of cases) {
    await t.test(c.name, (t) => {
      const root = tree(t, c.files);
      assert.throws(() => findBinary({ ...c.options(root), platform: c.platform }),
        { code: codes.NOT_FOUND, message: c.message(root) });
    });
  }
});

test('a client with no binary rejects each request with where it looked, and starts nothing', async (t) => {
  const root = tree(t, ['empty/']);
  const client = createClient({ env: { PATH: `${root}/empty` } });
  for (let i = 0; i < 2; i++) {
    await assert.rejects(client.sample([1]), {
      code: codes.NOT_FOUND,
      message: /^zul-process not found: .* \(looked in .*\/empty\)$/,
    });
  }
  await client.close();
});

test('a binary found but not startable rejects with the system\'s reason', async (t) => {
  const root = tree(t, ['zp:644']);
  const client = createClient({ binary: `${root}/zp` });
  await assert.rejects(client.sample([1]), {
    code: codes.SPAWN,
    message: `zul-process serve (${root}/zp) could not be started: spawn ${root}/zp EACCES`,
  });
});

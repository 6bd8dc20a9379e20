#!/usr/bin/env bash
# What scripts/package wrote into dist/, checked as a user would meet it: the .deb passes
# lintian, unpacks to a tool that runs, a man page that renders and a completion that completes,
# and holds what `cmake --install --strip` installs, byte for byte; the tarball and the zip hold
# their files; in each of the three, the notes the README links to are where its links lead;
# the zip's .exe runs under Wine; each tool carries the project's version; the npm
# package holds the Node.js client, which loads from either entry; and building the packages
# again gives the same bytes.
# Usage: tests/package/packages_test.sh   (from the source folder, after scripts/package; the
# Windows checks use the Wine session of build/windows when one is running)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
deb=dist/zul-process_${version}_amd64.deb
linux=zul-process-$version-linux-x86_64
windows=zul-process-$version-windows-x86_64
npm_package=zul-process-$version.tgz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
check() {  # name, then the command that must succeed
  local name=$1
  shift
  if "$@" >"$work/out" 2>&1; then
    echo "ok    $name"
  else
    echo "FAIL  $name"
    sed 's/^/      /' "$work/out" | head -40
    failures=$((failures + 1))
  fi
}
same_lines() {  # expected (one per line), actual
  diff <(echo "$1") <(echo "$2")
}
readme_links_resolve() {  # the folder that holds a package's README.md
  local targets target
  targets=$(grep -o '](doc/[^)#]*' "$1/README.md" | cut -c3- | sort -u)
  [ -n "$targets" ] || { echo "no link to doc/ in $1/README.md"; return 1; }
  for target in $targets; do
    cmp "$target" "$1/$target" || return 1
  done
}

# --- The five files -------------------------------------------------------------------------
check "dist holds the four packages and SHA256SUMS" same_lines \
  "$(printf '%s\n' SHA256SUMS "$(basename "$deb")" "$linux.tar.gz" "$windows.zip" "$npm_package" | sort)" \
  "$(ls dist | sort)"
check "SHA256SUMS matches the packages" sh -c 'cd dist && sha256sum --strict -c SHA256SUMS'

# --- The Debian package ----------------------------------------------------------------------
lintian_clean() {
  # --fail-on makes warnings fail too; the grep keeps a tag from slipping through either way.
  lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || { cat "$work/lintian"; return 1; }
  ! grep -E '^[EW]: ' "$work/lintian"
}
check "lintian reports no error and no warning" lintian_clean

control_fields() {
  local field want got
  for field in "Package=zul-process" "Version=$version" "Architecture=amd64" "Section=utils" \
               "Priority=optional" "Suggests=bash-completion"; do
    want=${field#*=}
    got=$(dpkg-deb -f "$deb" "${field%%=*}")
    [ "$got" = "$want" ] || { echo "${field%%=*}: '$got', want '$want'"; return 1; }
  done
  dpkg-deb -f "$deb" Maintainer | grep -qE '^[^<]+ <[^@>]+@[^>]+>$' || { echo "Maintainer"; return 1; }
  [ "$(dpkg-deb -f "$deb" Description | wc -l)" -ge 3 ] || { echo "Description too short"; return 1; }
}
check "control data: name, version, architecture, section, priority, suggests, maintainer, description" \
  control_fields

dpkg-deb -x "$deb" "$work/deb"
runs_sample_of_this_shell() {  # the tool
  local out
  out=$("$1" sample $$)
  echo "$out"
  [[ $out == '{"samples":[{'*'"pid":'$$',"rssBytes":'*'"status":"found"'*'}]}' ]]
}
check "the unpacked .deb's tool samples this shell" runs_sample_of_this_shell "$work/deb/usr/bin/zul-process"
carries_version() {  # the tool answers only sample and inspect; strings finds its version
  strings "$1" | grep -x "zul-process $version"
}
check "the unpacked .deb's tool carries its version" carries_version "$work/deb/usr/bin/zul-process"

man_page_renders() {
  local page=$work/deb/usr/share/man/man1/zul-process.1.gz locale
  # In a UTF-8 locale and in plain C, where troff has no glyph for many characters beyond ASCII.
  for locale in C.UTF-8 C; do
    MANWIDTH=80 LC_ALL=$locale man --warnings -l "$page" >"$work/man" 2>"$work/man-warnings"
    if [ -s "$work/man-warnings" ]; then echo "in $locale:"; cat "$work/man-warnings"; return 1; fi
  done
  grep -q '^NAME' "$work/man" && grep -q '^EXIT STATUS' "$work/man" &&
    grep -q "zul-process $version" "$work/man" && grep -q 'OPEN_PROCESS' "$work/man"
}
check "the unpacked .deb's man page renders, without warnings in UTF-8 and in C, with its version" \
  man_page_renders

check "the unpacked .deb's completion offers the command words" \
  tests/package/completion_test.sh "$work/deb/usr/share/bash-completion/completions/zul-process"

files_under() { (cd "$1" && find . -type f -exec sha256sum {} + | sort -k 2); }
same_as_cmake_install() {
  DESTDIR=$work/installed cmake --install build/release --prefix /usr --strip >/dev/null
  same_lines "$(files_under "$work/deb")" "$(files_under "$work/installed")"
}
check "cmake --install --strip installs the files of the .deb, byte for byte" same_as_cmake_install
check "the .deb's README links to the notes beside it" \
  readme_links_resolve "$work/deb/usr/share/doc/zul-process"

# --- The Linux tarball -----------------------------------------------------------------------
check "the tarball holds the tool, man page, completion, README with its notes and LICENSE" same_lines \
  "$(printf "$linux/%s\n" "" LICENSE README.md doc/ doc/diagnostics.md doc/platforms.md \
       doc/sessions.md zul-process zul-process.1 zul-process.bash | sort)" \
  "$(tar -tzf "dist/$linux.tar.gz" | sort)"
tar -C "$work" -xzf "dist/$linux.tar.gz"
check "the tarball's README links to the notes beside it" readme_links_resolve "$work/$linux"
check "the tarball's tool samples this shell" runs_sample_of_this_shell "$work/$linux/zul-process"
check "the tarball's tool carries its version" carries_version "$work/$linux/zul-process"

# --- The Windows zip -------------------------------------------------------------------------
check "the zip holds zul-process.exe, README with its notes and LICENSE" same_lines \
  "$(printf "$windows/%s\n" "" LICENSE README.md doc/ doc/diagnostics.md doc/platforms.md \
       doc/sessions.md zul-process.exe | sort)" \
  "$(unzip -Z1 "dist/$windows.zip" | sort)"
unzip -q "dist/$windows.zip" -d "$work"
check "the zip's README links to the notes beside it" readme_links_resolve "$work/$windows"
exe=$work/$windows/zul-process.exe
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wine-prefix}
exe_runs_under_wine() {
  local out
  out=$(scripts/wine-run "$exe" sample 2147483632)
  echo "$out"
  [ "$out" = '{"samples":[{"cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"peak":null,"pid":2147483632,"rssBytes":null,"status":"not_found","systemPeakBytes":null,"unavailable":"PROCESS_NOT_FOUND"}]}' ]
}
check "the zip's .exe runs under Wine" exe_runs_under_wine
version_reader=$(find build/windows -name zul_e2e_windows_version.exe | head -1)
if [ -n "$version_reader" ]; then
  check "the zip's .exe carries version $version and its manifest" \
    env ZUL_TEST_TOOL="$exe" scripts/wine-run "$version_reader"
else
  echo "FAIL  the zip's .exe carries its version: build the windows preset's tests first"
  failures=$((failures + 1))
fi

# --- The npm package -------------------------------------------------------------------------
check "the npm package holds the client, its declarations, README and LICENSE" same_lines \
  "$(printf 'package/%s\n' LICENSE README.md index.d.mts index.d.ts index.js index.mjs \
       lib/binary.js lib/errors.js lib/session.js package.json | sort)" \
  "$(tar -tzf "dist/$npm_package" | sort)"
mkdir -p "$work/npm/node_modules/zul-process"
tar -C "$work/npm/node_modules/zul-process" --strip-components=1 -xzf "dist/$npm_package"
check "the npm package carries version $version" same_lines "$version" \
  "$(cd "$work/npm" && node -p 'require("zul-process/package.json").version' 2>&1)"
npm_client_loads() (  # from both entries, as the same client, which finds no binary where none is
  cd "$work/npm" && node --input-type=module -e '
    import { createRequire } from "node:module";
    import * as imported from "zul-process";
    const required = createRequire(import.meta.url)("zul-process");
    if (imported.createClient !== required.createClient) throw new Error("two clients");
    await imported.createClient({ env: { PATH: "/nonexistent" } }).sample([1]).then(
      () => { throw new Error("sampled without a binary"); },
      (error) => { if (error.code !== "ERR_ZUL_PROCESS_NOT_FOUND") throw error; });'
)
check "the npm package's client loads from require and import" npm_client_loads

# --- Reproducible -----------------------------------------------------------------------------
# What can change from one build to the next is made again: both tools are linked again, the man
# page and the changelog written again, and everything packaged again, as if two days later
# (faketime), with another umask and in another time zone. (The objects the tools link are the
# compiler's; two clean builds of one commit give the same ones.)
same_bytes_when_built_again() {
  rm -f build/release/zul-process build/windows/zul-process.exe build/release/doc/zul-process.1 \
        build/release/debian/changelog.gz
  (umask 077 && TZ=Pacific/Kiritimati faketime -f +2d scripts/package "$work/again") \
    >"$work/again.log" 2>&1 || { cat "$work/again.log"; return 1; }
  diff dist/SHA256SUMS "$work/again/SHA256SUMS"
}
check "a second build gives byte-identical packages" same_bytes_when_built_again

[ $failures = 0 ] && echo "packages: all checks pass" || echo "packages: $failures failed"
exit $((failures > 0))

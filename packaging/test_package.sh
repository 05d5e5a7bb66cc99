#!/usr/bin/env bash
# The Debian package as it leaves the build: made by CPack from the build folder's own
# programs (no second compile), unpacked with dpkg-deb into a temporary folder, and checked
# there: every program answers --help and --version without a display, and the manual
# pages, the unit, the desktop entry, the examples and the documentation are in place.
# lintian must report no error.
#   test_package.sh BUILD_DIR SOURCE_DIR VERSION PROGRAM...
set -uo pipefail
build=$1 src=$2 version=$3
shift 3
programs=("$@")

for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/test installs it)"
    exit 77
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! (cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1); then
  cat "$tmp/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
arch=$(dpkg --print-architecture)
deb="$tmp/out/powerhost_${version}_${arch}.deb"
if [ ! -f "$deb" ]; then
  ls "$tmp/out"
  echo "FAIL: no $(basename "$deb")"
  exit 1
fi
root="$tmp/root"
dpkg-deb -x "$deb" "$root"

# ---- the control fields: the version, and what apt pulls in on a fresh system
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is $(dpkg-deb -f "$deb" Version), not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6network6 libqt6widgets6 libqt6charts6 libqt6gui6 libc6 libstdc++6; do
  [[ ", $depends" == *", $lib "* || ", $depends," == *", $lib,"* ]] || fail "Depends lacks $lib: $depends"
done
[[ "$(dpkg-deb -f "$deb" Recommends)" == *fonts-noto-cjk* ]] || fail "fonts-noto-cjk is not recommended"
# what apt would install on a system with nothing installed yet, from this machine's package
# lists (when it has them): the dependencies resolve, and the Qt run-time and the font come.
# It takes a while, so it runs beside the checks below.
apt_sim=""
if apt-cache show libqt6core6 >/dev/null 2>&1; then
  : >"$tmp/empty-status"
  apt-get -s -o Dir::State::status="$tmp/empty-status" -o Dir::Cache::pkgcache= install "$deb" >"$tmp/apt-sim.out" 2>&1 &
  apt_sim=$!
else
  echo "not checked: what apt installs (no package lists here)"
fi

# ---- each program runs from the package: --help and --version, with no display at all
headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
for p in "${programs[@]}"; do
  bin="$root/usr/bin/$p"
  if [ ! -x "$bin" ]; then
    fail "no usr/bin/$p"
    continue
  fi
  if missing=$(ldd "$bin" | grep 'not found'); then fail "$p: $missing"; fi
  out=$("${headless[@]}" "$bin" --version 2>&1) || fail "$p --version: exit $?: $out"
  # the name and version first; what follows (a revision, the Qt version) is the program's own
  first=$(head -1 <<<"$out")
  [ "$first" = "$p $version" ] || [[ "$first" == "$p $version "* ]] || fail "$p --version says \"$out\", not \"$p $version\""
  out=$("${headless[@]}" "$bin" --help 2>&1) || fail "$p --help: exit $?: $out"
  [[ "$out" == "Usage: $p"* ]] || fail "$p --help does not start with \"Usage: $p\": $(head -2 <<<"$out")"
  [[ "$out" == *--version* ]] || fail "$p --help does not list --version"

  # its manual page: named, and its options drawn from --help
  page="$root/usr/share/man/man1/$p.1.gz"
  if [ ! -f "$page" ]; then
    fail "no manual page usr/share/man/man1/$p.1.gz"
    continue
  fi
  text=$(zcat "$page")
  grep -q "^$p \\\\- ." <<<"$text" || fail "$p.1: no NAME line"
  grep -q -- '-\\-version' <<<"$text" || fail "$p.1: --version is not among its options"
done
[ -n "$(ls "$root/usr/bin")" ] || fail "no program"
for f in "$root"/usr/bin/*; do
  [[ " ${programs[*]} " == *" $(basename "$f") "* ]] || fail "usr/bin/$(basename "$f") is not one of: ${programs[*]}"
done

# ---- the exporter's unit: the example's settings, run from /usr/bin as its own user
unit="$root/lib/systemd/system/powerhost-exporter.service"
if [ -f "$unit" ]; then
  exec_start=$(grep '^ExecStart=' "$unit")
  [[ "$exec_start" == "ExecStart=/usr/bin/powerhost-exporter "* ]] || fail "unit: $exec_start"
  grep -qx 'User=powerhost' "$unit" || fail "unit: not User=powerhost"
  grep -qx 'Group=powerhost' "$unit" || fail "unit: not Group=powerhost"
  grep -q '^DynamicUser=' "$unit" && fail "unit: still a dynamic user"
  # every other setting of the example (its hardening above all) is kept as it is
  while IFS= read -r line; do
    case "$line" in ''|'#'*|' '*|DynamicUser=*|ExecStart=*) continue ;; esac
    grep -qxF -- "$line" "$unit" || fail "unit lacks the example's \"$line\""
  done <"$src/examples/powerhost-exporter.service"
  # what a dynamic user implied is stated
  for implied in RemoveIPC=yes RestrictSUIDSGID=yes NoNewPrivileges=yes ProtectSystem=strict PrivateTmp=yes; do
    grep -qx "$implied" "$unit" || fail "unit lacks $implied"
  done
  [ -e "$root/etc/systemd/system/multi-user.target.wants/powerhost-exporter.service" ] && fail "unit enabled by the package"
else
  fail "no lib/systemd/system/powerhost-exporter.service"
fi
grep -qE '^u powerhost ' "$root/usr/lib/sysusers.d/powerhost.conf" 2>/dev/null ||
  fail "usr/lib/sysusers.d/powerhost.conf does not declare the user powerhost"

# ---- the desktop entry and its icon
desktop="$root/usr/share/applications/powerhost.desktop"
if [ -f "$desktop" ]; then
  if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
  fi
  exec_line=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$root/usr/bin/$exec_line" ] || fail "the desktop entry starts \"$exec_line\", which the package does not hold"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  svg="$root/usr/share/icons/hicolor/scalable/apps/$icon.svg"
  [ -f "$svg" ] || fail "no icon $icon in the hicolor theme"
  python3 -c 'import sys, xml.dom.minidom as m; d = m.parse(sys.argv[1]); assert d.documentElement.tagName == "svg"' \
    "$svg" 2>/dev/null || fail "the icon is not an SVG image"
else
  fail "no usr/share/applications/powerhost.desktop"
fi

# ---- the documentation: every example as in the tree, copyright, changelog
doc="$root/usr/share/doc/powerhost"
(cd "$src/examples" && find . -type f) | while IFS= read -r f; do
  cmp -s "$src/examples/$f" "$doc/examples/$f" || echo "FAIL: examples/$f is not in usr/share/doc/powerhost"
done | tee "$tmp/examples.out"
failures=$((failures + $(grep -c . "$tmp/examples.out")))
[ -s "$doc/copyright" ] || fail "no copyright file"
[ "$(zcat "$doc/changelog.gz" 2>/dev/null | head -1 | sed -n 's/^powerhost (\([^)]*\)).*/\1/p')" = "$version" ] ||
  fail "changelog.gz does not start with version $version"

# ---- lintian: errors fail, everything else is shown
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" >"$tmp/lintian.out" 2>&1
rc=$?
echo "lintian (exit $rc):"
sed 's/^/  /' "$tmp/lintian.out"
[ $rc -eq 0 ] || fail "lintian reports errors"
grep -q '^E: ' "$tmp/lintian.out" && fail "lintian errors"

if [ -n "$apt_sim" ]; then
  wait "$apt_sim" || fail "apt on an empty system: $(tail -3 "$tmp/apt-sim.out")"
  for p in libqt6widgets6 libqt6charts6 libqt6network6 fonts-noto-cjk powerhost; do
    grep -q "^Inst $p " "$tmp/apt-sim.out" || fail "apt on an empty system would not install $p"
  done
fi

echo "package contents:"
dpkg-deb -c "$deb" | awk '{print "  " $NF}'
if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "package $(basename "$deb") checked"

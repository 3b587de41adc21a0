#!/usr/bin/env bash
# windows/build-deps without the network: apt-get and apt-cache are stand-ins,
# the components are small fakes. What is checked is what costs hours when it
# goes wrong: a build that is skipped although its options changed, a failure
# stamped as done, an interrupted unpack taken for a whole one, a prefix in
# the repository, and a private apt setup that drifts from the machine's.
set -uo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0
check() { # name, then a command that must succeed
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $name"; failures=$((failures + 1)); fi
}

# Stand-ins on PATH: apt-get "source PKG=VER" unpacks a tree named as
# dpkg-source names it, and fails for a package named "missing".
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_LOG"
for a; do :; done # the last argument: update, or PKG=VERSION
case $a in
  update) [ -z "${FAKE_UPDATE_FAIL:-}" ] || exit 100 ;;
  missing=*) echo "E: 404 Not Found"; exit 100 ;;
  *=*) pkg=${a%%=*} ver=${a#*=}; ver=${ver#*:}; mkdir -p "$pkg-${ver%-*}"; echo "$ver" >"$pkg-${ver%-*}/VERSION" ;;
  *) exit 1 ;;
esac
EOF
cat >"$work/bin/apt-cache" <<'EOF'
#!/usr/bin/env bash
for a; do :; done
printf 'Package: %s\nVersion: %s\n\nPackage: %s\nVersion: %s\n' "$a" "${FAKE_OLD:-1.0-1}" "$a" "${FAKE_VERSION:-1:2.0-1}"
EOF
chmod +x "$work/bin/"*
export PATH=$work/bin:$PATH FAKE_LOG=$work/apt.log

cat >"$work/debian.sources" <<EOF
Types: deb
URIs: http://mirror.invalid/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: $work/keyring.gpg

Types: deb
URIs: http://mirror.invalid/debian-security
Suites: bookworm-security
Components: main
Signed-By: $work/keyring.gpg
EOF
: >"$work/keyring.gpg"

# One run of build-deps in a fresh shell, with fake components "demo"
# (builds into its tree; fails while $work/fail exists) and "gone" (its
# source cannot be fetched).
run() {
  (
    # shellcheck source=/dev/null
    source "$src/windows/build-deps"
    SYSTEM_SOURCES=$work/debian.sources
    check_tools() { :; }
    def_demo() { PKG=demo OPTS="--opt=${DEMO_OPT:-a}"; }
    build_demo() {
      local build=$PREFIX/build/demo
      if ! configured "$build" "$2"; then
        rm -rf "$build" && mkdir -p "$build" && echo configure >>"$work/steps"
        mark_configured "$build" "$2"
      fi
      echo build >>"$work/steps"
      [ ! -e "$work/fail" ] || die "demo: build failed"
      cp "$1/VERSION" "$PREFIX/demo-installed"
    }
    def_gone() { PKG=missing OPTS=""; }
    build_gone() { :; }
    def_extra() { PKG=missing OPTS=""; }  # optional, as QtKeychain is
    build_extra() { :; }
    fallback_extra() { LEFT_OUT="not fetched"; }
    STREVO_DEPS_NICED=1 main "$@"
  )
}
export STREVO_MINGW_PREFIX=$work/prefix
steps() { cat "$work/steps" 2>/dev/null | tr '\n' ' '; }

# A first run fetches the newest version, configures, builds and stamps; the
# second does nothing and says so.
out=$(run demo 2>&1)
check "first run builds" test "$(steps)" = "configure build "
check "newest version is fetched, epoch kept out of paths" test "$(cat "$work/prefix/demo-installed" 2>/dev/null)" = "2.0-1"
check "first run reports its time" grep -q "demo: done in 0m0" <<<"$out"
rm -f "$work/steps"
out=$(run demo 2>&1)
check "second run does nothing" test "$(steps)" = ""
check "second run says so in one line" test "$(head -1 <<<"$out")" = "build-deps: demo: up to date (demo 1:2.0-1)"
check "second run prints nothing else" test "$(wc -l <<<"$out")" = 2
check "source fetched once" test "$(grep -c ' source ' "$work/apt.log")" = 1

# Changed options or a new Debian version build again; new options configure again.
DEMO_OPT=b run demo >/dev/null 2>&1
check "changed options rebuild and reconfigure" test "$(steps)" = "configure build "
rm -f "$work/steps"
FAKE_VERSION=1:2.0-2 DEMO_OPT=b run demo >/dev/null 2>&1
check "a new Debian version rebuilds" test "$(cat "$work/prefix/demo-installed")" = "2.0-2"

# A failed build leaves no stamp and exits non-zero; the next run resumes in
# the configured tree instead of starting over.
rm -f "$work/steps"
touch "$work/fail"
DEMO_OPT=c run demo >/dev/null 2>&1
rc=$?
check "a failed build fails the run" test "$rc" -ne 0
check "a failed build is not stamped" grep -q "opt=b" "$work/prefix/stamps/demo"
rm -f "$work/fail" "$work/steps"
DEMO_OPT=c run demo >/dev/null 2>&1
check "the next run resumes without configuring" test "$(steps)" = "build "

# While another run builds a component, a second one leaves it alone.
mkdir -p "$work/prefix/stamps"
(exec 9>"$work/prefix/stamps/demo.lock" && flock 9 && exec sleep 30) &
holder=$!
sleep 0.5
rm -f "$work/steps"
DEMO_OPT=d run demo >/dev/null 2>&1
rc=$?
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
check "a component being built elsewhere is refused" test "$rc" -ne 0 -a "$(steps)" = ""

# An unpack that was cut short is fetched again, not built half-empty.
rm -f "$work/prefix/src/demo-2.0-2/.unpacked" "$work/prefix/stamps/demo" \
  "$work/prefix/src/demo-2.0-2/demo-2.0/VERSION"
FAKE_VERSION=1:2.0-2 DEMO_OPT=c run demo >/dev/null 2>&1
check "an interrupted unpack is fetched again" test -f "$work/prefix/src/demo-2.0-2/demo-2.0/VERSION"

# A source that cannot be fetched fails the run, with nothing stamped.
run gone >/dev/null 2>&1
rc=$?
check "a missing source fails the run" test "$rc" -ne 0
check "a missing source is not stamped" test ! -e "$work/prefix/stamps/gone"
# An optional one is left out: the run goes on and says so, and nothing is
# stamped, so that a later run tries again.
out=$(run extra demo 2>&1)
rc=$?
check "an optional missing source does not fail the run" test "$rc" -eq 0
check "the run goes on after it" grep -qE "demo: (up to date|done)" <<<"$out"
check "the summary names it" grep -q "all done .*left out: extra" <<<"$out"
check "a left-out component is not stamped" test ! -e "$work/prefix/stamps/extra"
check "an unknown component is refused" bash -c '! "$0"/windows/build-deps nosuch 2>/dev/null' "$src"

# The prefix never lies inside the repository (its build trees would be
# picked up by git and by CMake's globbing).
STREVO_MINGW_PREFIX=$src/build/../deps run demo >/dev/null 2>&1
rc=$?
check "a prefix in the repository is refused" test "$rc" -ne 0 -a ! -e "$src/deps"

# Offline, with lists a day old: what is built stays usable; with no lists at
# all the run fails.
DEMO_OPT=c FAKE_VERSION=1:2.0-2 run demo >/dev/null 2>&1
touch -d '2 days ago' "$work/prefix/apt/updated"
touch "$work/prefix/apt/lists/mirror_dists_bookworm_main_source_Sources"
out=$(FAKE_UPDATE_FAIL=1 DEMO_OPT=c FAKE_VERSION=1:2.0-2 run demo 2>&1)
check "offline with old lists still up to date" grep -q "demo: up to date" <<<"$out"
rm -f "$work/prefix/apt/lists/"*_Sources
FAKE_UPDATE_FAIL=1 DEMO_OPT=c FAKE_VERSION=1:2.0-2 run demo >/dev/null 2>&1
rc=$?
check "offline without lists fails" test "$rc" -ne 0

# The private apt setup: the machine's mirror and suites as deb-src, each
# entry with its keyring, and nothing of the machine's configuration.
sources=$work/prefix/apt/sources.list.d/debian-src.sources
check "deb-src for every entry" test "$(grep -c '^Types: deb-src$' "$sources")" = 2
check "same mirrors and suites" test "$(grep -E '^(URIs|Suites)' "$sources")" = "$(grep -E '^(URIs|Suites)' "$work/debian.sources")"
check "apt sees only the private lists" grep -q "Dir::Etc::SourceParts=$work/prefix/apt/sources.list.d .*Dir::State::Lists=$work/prefix/apt/lists" "$FAKE_LOG"
sed -i '0,/^Signed-By:.*/{/^Signed-By:.*/d}' "$work/debian.sources"
rm -f "$work/prefix/stamps/demo"
run demo >/dev/null 2>&1
rc=$?
check "an entry without a keyring is refused" test "$rc" -ne 0

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]

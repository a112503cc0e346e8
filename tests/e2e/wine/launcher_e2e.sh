#!/usr/bin/env bash
# End-to-end runs of the Windows launcher under wine, against nginx serving the sample repository
# on 127.0.0.1. Each case copies the real qiv_start_2.exe into a fresh folder and runs it there as
# a workstation would; the Win32 tests' program plays the terminal (it records where it started)
# and another program's window, and window_tool answers the launcher's windows with real mouse and
# keyboard input.
#
#   launcher_e2e.sh CASE LAUNCHER TEST_PROGRAM WINDOW_TOOL QIV_REPO
#
# Runs inside scripts/wine-test, which provides the X server, the wine prefix and its server.
# With QIV_SCREENSHOTS set to a folder, the chooser and the start window are saved there as PNG
# pictures (chooser-wine.png, progress-wine.png).
set -euo pipefail

case_name=${1:?usage: launcher_e2e.sh CASE LAUNCHER TEST_PROGRAM WINDOW_TOOL QIV_REPO}
launcher=${2:?launcher missing}
test_program=${3:?test program missing}
window_tool=${4:?window tool missing}
qiv_repo=${5:?qiv_repo missing}
shots=${QIV_SCREENSHOTS:-}
: "${WINEPREFIX:?run under scripts/wine-test}" "${DISPLAY:?run under scripts/wine-test}"
source_dir=$(cd "$(dirname "$0")/../../.." && pwd)
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)

# Not under /tmp, where a clone of the project may lie too: wine shows a folder that every user may
# write as one whose DACL lets Everyone delete in it, and the launcher refuses a working folder
# inside such a folder. The user's own cache is no such folder.
scratch=${XDG_CACHE_HOME:-$HOME/.cache}/qiv_start_2/wine-runs
mkdir -p "$scratch"
dir=$(mktemp -d -p "$scratch" e2e.XXXXXX)
work=$dir/work
repository=$dir/repository
background=()
installed_package=
cleanup() {
  for pid in "${background[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  if [ -n "$installed_package" ]; then
    "$wine" msiexec /x "$(windows_path "$installed_package")" /qn >/dev/null 2>&1 || true
  fi
  bash "$source_dir/scripts/nginx-serve" stop "$dir/nginx"
  bash "$source_dir/scripts/nginx-serve" stop "$dir/nginx-tls"
  bash "$source_dir/scripts/nginx-serve" stop "$dir/nginx-mirror"
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAILED ($case_name): $*" >&2
  for log in "$work"/logs/*.log "$dir"/*.out; do
    [ -f "$log" ] && { echo "--- $log" >&2; cat "$log" >&2; }
  done
  exit 1
}

# The folder as the Windows program sees it (wine shows the root as Z:).
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

tool() { "$wine" "$window_tool" "$@"; }

# The launcher in the working folder, in the foreground; its exit code is returned.
launch() {
  local status=0
  (cd "$work" && exec timeout 120 "$wine" "$work/qiv_start_2.exe" "$@") >"$dir/launcher.out" 2>&1 ||
    status=$?
  return "$status"
}

# The launcher in the background: its pid goes to $launched.
launch_in_background() {
  local out=$1
  shift
  (cd "$work" && exec timeout 120 "$wine" "$work/qiv_start_2.exe" "$@") >"$dir/$out" 2>&1 &
  launched=$!
  background+=("$launched")
}

# The newest run log with the prefix.
newest_log() { find "$work/logs" -name "$1_*.log" 2>/dev/null | sort | tail -n 1; }

log_has() { grep -qF -- "$2" "$(newest_log "$1")" || fail "log $1 lacks: $2"; }

occurrences() { grep -oF -- "$2" "$(newest_log "$1")" | wc -l; }

# The terminal's record of its start: its working folder, waited for a bounded while.
started_in() {
  local record=$work/terminale/kasa/started.txt
  for _ in $(seq 1 600); do
    [ -s "$record" ] && { head -n 1 "$record" | tr -d '\r'; return; }
    sleep 0.1
  done
}

expect_started() {
  local where
  where=$(started_in)
  [ "$where" = "$(windows_path "$work/terminale/kasa")" ] || fail "terminal started in '$where'"
  rm -f "$work/terminale/kasa/started.txt"
}

# The cache of the last good configuration lives in the prefix's registry: each case starts
# without one, as on a workstation that never ran the launcher.
forget_cache() { "$wine" reg delete 'HKCU\SOFTWARE\QIV' /f >/dev/null 2>&1 || true; }

has_cache() { "$wine" reg query 'HKCU\SOFTWARE\QIV\QIV_START' /v version_file >/dev/null 2>&1; }

setup() {
  mkdir -p "$repository" "$work/config"
  local port
  port=$(bash "$source_dir/scripts/nginx-serve" start "$repository" "$dir/nginx")
  base_url="http://127.0.0.1:$port/"
  bash "$source_dir/examples/make-repository" "$repository" "$base_url" "$launcher" "$qiv_repo" \
    "$test_program" >/dev/null
  printf '%s\r\n' "$base_url" >"$work/config/servers.cfg"
  cp "$launcher" "$work/qiv_start_2.exe"
  forget_cache
}

# Virtual keys and the place of the chooser's first button (margin, topMargin, btnWidth and
# btnHeight of the sample document) in its client area.
vk_return=13
vk_escape=27
first_button=(210 40)
chooser_size=(420 82)

# A fresh folder: every file comes, the terminal starts in its own folder, the cache is written.
# The second run finds every file current and starts the terminal again. The run reports its
# start in the access log.
case_cold_and_warm_start() {
  launch KASA || fail "cold start ended with $?"
  expect_started
  cmp -s "$work/wspolne/slownik.txt" "$repository/slownik.txt" || fail "slownik.txt differs"
  cmp -s "$work/qiv_start_2.xml" "$repository/qiv_start_2.xml" || fail "local copy differs"
  [ -f "$work/terminale/kasa/dane/szablony/faktura.txt" ] || fail "archive not extracted"
  log_has qiv_start 'file_count|6'
  log_has qiv_start 'terminal "KASA" uruchomiono'
  [ "$(occurrences qiv_start 'Wersji pliku jest poprawna')" = 0 ] || fail "cold start found files"
  has_cache || fail "no configuration in the registry cache"
  # The run's one report reached the server's log, with its outcome.
  [ "$(grep -c 'GET /qiv_start_2.report?v=1&.*&out=started&' "$dir/nginx/access.log")" = 1 ] ||
    fail "no single report of the start in the access log"

  launch KASA || fail "warm start ended with $?"
  expect_started
  [ "$(occurrences qiv_start 'Wersji pliku jest poprawna|')" = 6 ] || fail "warm start downloaded"
  [ "$(occurrences qiv_start 'download_start|')" = 2 ] || fail "warm start downloaded"
}

# Without a code the chooser offers the terminals this workstation may start; a click on the
# first button starts it through the start window.
case_chooser() {
  launch_in_background chooser.out
  tool size Qiv-start "${chooser_size[@]}" || fail "the chooser built no buttons"
  [ -z "$shots" ] || tool shot Qiv-start "$(windows_path "$shots")\\chooser-wine.png"
  tool click Qiv-start "${first_button[@]}" || fail "no chooser to click"
  wait "$launched" || fail "launcher ended with $?"
  expect_started
  log_has qiv_start 'terminal "KASA" uruchomiono'
}

# A launcher whose digest differs from the document's asks whether to fetch the new version;
# "Nie" (the escape key) ends it with nothing started, so with exit code 1.
case_outdated_question() {
  printf 'changed\r\n' >>"$work/qiv_start_2.exe"
  launch_in_background outdated.out
  tool key Qiv-start "$vk_escape" || fail "no question asked"
  local status=0
  wait "$launched" || status=$?
  [ "$status" = 1 ] || fail "an outdated launcher ended with $status instead of 1"
  tool gone Qiv-start || fail "the question stayed"
  [ ! -e "$work/terminale" ] || fail "an outdated launcher synchronised"
  [ -z "$(newest_log qiv_start)" ] || fail "an outdated launcher went on"
  log_has check_version 'download_finished|qiv_start_2.xml'
}

# A terminal that cannot be started: the error box over the start window, which stays with the
# events until it is closed (exit code 1). Then, with the repository down and no cache, there is
# no configuration: an error box, and exit code 1 once it is acknowledged.
case_error_box() {
  printf 'not a program\r\n' >"$repository/kasa.exe"
  "$qiv_repo" hash "$repository" --launcher "$launcher" >/dev/null
  launch_in_background broken.out KASA
  tool wait Qiv-start || fail "no error box for a terminal that cannot start"
  tool wait 'Uruchamianie Terminala' || fail "the start window did not stay"
  tool key Qiv-start "$vk_return"
  tool gone Qiv-start || fail "the error box stayed"
  [ "$(tool count 'Uruchamianie Terminala' | tr -d '\r')" = 1 ] || fail "the start window closed"
  [ -z "$shots" ] || tool shot 'Uruchamianie Terminala' "$(windows_path "$shots")\\progress-wine.png"
  tool close 'Uruchamianie Terminala'
  local status=0
  wait "$launched" || status=$?
  [ "$status" = 1 ] || fail "a failed start ended with $status instead of 1"
  log_has qiv_start 'file_count|6'
  [ "$(occurrences qiv_start 'uruchomiono')" = 0 ] || fail "the broken terminal counted as started"

  bash "$source_dir/scripts/nginx-serve" stop "$dir/nginx"
  forget_cache
  launch_in_background unreachable.out KASA
  tool key Qiv-start "$vk_return" || fail "no error box"
  status=0
  wait "$launched" || status=$?
  [ "$status" = 1 ] || fail "exit code $status instead of 1"
  log_has check_version 'sprawdzi'
}

# A second launcher asks other programs' windows titled qiv_start_2 to close. The first
# launcher's own windows have other titles and stay: both go on and start the terminal.
case_two_launchers() {
  "$wine" "$test_program" window qiv_start_2 >/dev/null 2>&1 &
  background+=("$!")
  tool wait qiv_start_2 || fail "no window of another program"
  launch_in_background first.out
  tool size Qiv-start "${chooser_size[@]}" || fail "the first chooser built no buttons"
  launch KASA || fail "second launcher ended with $?"
  tool gone qiv_start_2 || fail "the other program's window was not closed"
  expect_started
  # The second launcher's window may stay listed for a moment after its end.
  local count
  for _ in $(seq 1 50); do
    count=$(tool count Qiv-start | tr -d '\r')
    [ "$count" = 1 ] && break
    sleep 0.1
  done
  [ "$count" = 1 ] || fail "the first launcher's chooser was closed ($count windows)"
  tool click Qiv-start "${first_button[@]}" || fail "the first launcher's chooser is covered"
  wait "$launched" || fail "first launcher ended with $?"
  expect_started
}

# The start over HTTPS, through the Schannel that the Windows launcher uses, with the plain HTTP
# server gone. The certificate is self-signed: Windows refuses such a server unless the
# certificate is in the workstation's store, while wine's Schannel accepts a server it cannot
# verify. So this checks that every file comes over TLS and the terminal starts; the refusal of
# an untrusted server cannot be checked under wine. The server offers HTTP/2 too, which Windows
# 8.1 and later negotiate through Schannel; libcurl asks wine's Schannel for no protocol, so here
# the launcher keeps to HTTP/1.1 and is served as before.
case_https() {
  openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -days 1 -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
  local port
  port=$(NGINX_HTTP2=on bash "$source_dir/scripts/nginx-serve" start "$repository" \
    "$dir/nginx-tls" "$dir/cert.pem" "$dir/key.pem")
  printf 'https://127.0.0.1:%s/\r\n' "$port" >"$repository/servers.cfg"
  cp "$repository/servers.cfg" "$work/config/servers.cfg"
  bash "$source_dir/scripts/nginx-serve" stop "$dir/nginx"
  launch KASA || fail "the start over HTTPS ended with $?"
  expect_started
  log_has qiv_start 'terminal "KASA" uruchomiono'
  grep -q '"GET /kasa.exe HTTP/1.1"' "$dir/nginx-tls/access.log" ||
    fail "kasa.exe did not come over HTTPS with HTTP/1.1"
}

# The launcher built with the tests' key A (tests/support/test_keys.h): the good server publishes
# release 2 while a mirror keeps release 1. The lagging mirror, then every server at release 1,
# are passed over, the cache serves and the terminal's files never go back.
case_release() {
  {
    printf '\x30\x2e\x02\x01\x00\x30\x05\x06\x03\x2b\x65\x70\x04\x22\x04\x20'
    printf '%s' 'NNTzZEt6ESA9sHBeUwR+NMKHPc5UmTWRic2URIlHtyM=' | base64 -d
  } | openssl pkey -inform DER -out "$dir/key.pem"
  local mirror=$dir/mirror port
  mkdir -p "$mirror"
  port=$(bash "$source_dir/scripts/nginx-serve" start "$mirror" "$dir/nginx-mirror")
  local mirror_url="http://127.0.0.1:$port/"
  printf '%s\r\n%s\r\n' "$mirror_url" "$base_url" >"$repository/servers.cfg"
  publish() {
    "$qiv_repo" hash "$repository" --sha256 >/dev/null
    "$qiv_repo" sign "$repository" --key "$dir/key.pem" "$@" >/dev/null
  }
  publish --first
  cp -r "$repository"/. "$mirror/"
  printf 'Cennik na stycze\xc5\x84\r\n' >"$repository/cennik.txt"
  publish

  launch KASA || fail "the start under release 2 ended with $?"
  expect_started
  cmp -s "$work/terminale/kasa/cennik.txt" "$repository/cennik.txt" || fail "cennik.txt differs"

  launch KASA || fail "the start past the lagging mirror ended with $?"
  expect_started
  log_has check_version "Wydanie nr 1 z serwera $mirror_url jest starsze"

  cp -r "$mirror"/. "$repository/"
  launch KASA || fail "the start from the cache ended with $?"
  expect_started
  log_has check_version "Wydanie nr 1 z serwera $base_url jest starsze"
  grep -q 'stycze' "$work/terminale/kasa/cennik.txt" || fail "cennik.txt went back to release 1"
}

# The administrator publishes the launcher with self-update on; the first server's copy is not
# the published one. An outdated launcher fetches the published one from the second server,
# hands over to it under the upgrade name, and that copy takes the launcher's place and starts
# the terminal. The next start finds the launcher current and removes the upgrade copy.
case_self_update() {
  local first=$dir/first port
  mkdir -p "$first"
  port=$(bash "$source_dir/scripts/nginx-serve" start "$first" "$dir/nginx-mirror")
  printf 'http://127.0.0.1:%s/\r\n%s\r\n' "$port" "$base_url" >"$repository/servers.cfg"
  sed -i '0,/<\/hash>/s||&\r\n  <self_update value="true"/>|' "$repository/qiv_start_2.xml"
  cp "$launcher" "$repository/qiv_start_2.exe"
  cp -r "$repository"/. "$first/"
  printf 'not the launcher\r\n' >"$first/qiv_start_2.exe"
  printf 'outdated\r\n' >>"$work/qiv_start_2.exe"

  launch KASA || fail "the outdated launcher ended with $?"
  expect_started
  cmp -s "$work/qiv_start_2.exe" "$launcher" || fail "the launcher was not replaced"
  grep -lF 'aktualizacja programu' "$work"/logs/check_version_*.log >/dev/null ||
    fail "no update in the run logs"

  launch KASA || fail "the updated launcher ended with $?"
  expect_started
  [ ! -e "$work/qiv_start_2_upgr.exe" ] || fail "the upgrade copy was left"
}

# A document that names its store: every file comes from its object, the named copies are gone,
# and the start window still names each file by its name.
case_store() {
  "$qiv_repo" hash "$repository" --sha256 --launcher "$launcher" >/dev/null
  sed -i '0,/<\/hash>/s||&\r\n  <store value="objects/"/>|' "$repository/qiv_start_2.xml"
  local files=(kasa.exe cennik.txt dane.zip raporty.lib wspolne.ini slownik.txt) name digest
  cp "$repository/cennik.txt" "$dir/cennik.txt"
  for name in "${files[@]}"; do
    digest=$(sha256sum "$repository/$name" | cut -c1-64)
    mkdir -p "$repository/objects/${digest:0:2}"
    mv "$repository/$name" "$repository/objects/${digest:0:2}/$digest"
  done
  launch KASA || fail "the start from the store ended with $?"
  expect_started
  cmp -s "$work/terminale/kasa/cennik.txt" "$dir/cennik.txt" || fail "cennik.txt differs"
  log_has qiv_start 'download_start|kasa.exe'
  [ "$(grep -c '"GET /objects/' "$dir/nginx/access.log")" = "${#files[@]}" ] ||
    fail "not every file came from the store"
}

# The installer package as an administrator deploys it. The earlier package, built from the
# project's history (the last that opened its working folder to every user), runs its launcher in
# that folder. The package of today upgrades it, as Group Policy deploys it (its own TERMINALS),
# with the servers kept and RELEASE_SERIAL given: the launcher goes to Program Files, the old
# folder keeps its files and loses the users' write access. The Start-menu shortcut's launcher
# then seeds the user's own folder, whose copy updates itself and starts the terminal there. A
# repair leaves the old folder alone, an older package refuses, the uninstall leaves the users'
# files. A bad TERMINALS, SERVERS or RELEASE_SERIAL fails the install.
case_msi() {
  local earlier=$dir/earlier.msi new=$dir/new.msi earlier_commit=826f4a0
  local old=$WINEPREFIX/drive_c/ProgramData/QIV/qiv_start_2
  local programs="$WINEPREFIX/drive_c/Program Files/QIV/qiv_start_2"
  # The prefix outlives the run: no folder of an earlier run may serve this one.
  local users=$WINEPREFIX/drive_c/users
  forget_folders() { rm -rf "$old" "$users"/*/AppData/Local/QIV; }
  forget_folders
  mkdir -p "$dir/earlier"
  git -C "$source_dir" archive "$earlier_commit" packaging scripts/build-msi CMakeLists.txt |
    tar -x -C "$dir/earlier" || fail "no earlier package in the project's history"
  bash "$dir/earlier/scripts/build-msi" --version 1.0.0 "$launcher" "$earlier" >/dev/null
  cp "$launcher" "$dir/newer.exe"
  printf 'newer\r\n' >>"$dir/newer.exe"
  bash "$source_dir/scripts/build-msi" --version 1.0.1 --terminals "KASA MAGAZYN" "$dir/newer.exe" "$new" >/dev/null
  msi() { "$wine" msiexec "$1" "$(windows_path "$2")" /qn "${@:3}" >>"$dir/msiexec.out" 2>&1; }
  # The value's line, nothing when it is missing (reg's message about that goes to its output).
  machine_value() {
    local out
    out=$("$wine" reg query 'HKLM\SOFTWARE\QIV\QIV_START' /v "$1" 2>/dev/null) || return 0
    printf '%s' "${out//$'\r'/}"
  }
  # Wine puts a per-machine package's shortcuts into the user's Start menu, Windows into all
  # users' one: either is the Start menu here.
  menu() { find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/qiv_start_2' -type d; }
  # The terminal's record in the folder (under C:, which is the prefix's drive_c), waited for a
  # bounded while.
  expect_started_in() {
    local record=$1/terminale/kasa/started.txt
    for _ in $(seq 1 600); do [ -s "$record" ] && break; sleep 0.1; done
    grep -qF 'C:\' "$record" && grep -qF '\QIV\qiv_start_2\terminale\kasa' "$record" ||
      fail "terminal not started in $1"
  }
  # How often the installer's log has the line.
  closed_in() { tr -d '\r' <"$1" | grep -c "$2" || true; }

  installed_package=$new
  ! msi /i "$new" TERMINALS='KASA ..\x' || fail "a code with a path installed"
  ! msi /i "$new" SERVERS="$base_url repo.example.org/qiv/" TERMINALS=KASA ||
    fail "a server without a scheme installed"
  ! msi /i "$new" RELEASE_SERIAL=5x || fail "a serial that is no number installed"
  [ ! -e "$programs/qiv_start_2.exe" ] || fail "a failed install left the launcher"

  installed_package=$earlier
  msi /i "$earlier" SERVERS="http://127.0.0.1:9/ $base_url" TERMINALS=KASA ||
    fail "the earlier package's install ended with $?"
  (cd "$old" && exec timeout 120 "$wine" "$old/qiv_start_2.exe" KASA) >"$dir/earlier.out" 2>&1 ||
    fail "the earlier launcher ended with $?"
  expect_started_in "$old"

  # The repository publishes the launcher with self-update on; the package installs another.
  sed -i '0,/<\/hash>/s||&\r\n  <self_update value="true"/>|' "$repository/qiv_start_2.xml"
  cp "$launcher" "$repository/qiv_start_2.exe"
  installed_package=$new
  msi /i "$new" RELEASE_SERIAL=5 /l*v "$(windows_path "$dir/upgrade.log")" || fail "the upgrade ended with $?"
  cmp -s "$dir/newer.exe" "$programs/qiv_start_2.exe" || fail "the launcher is not in Program Files"
  [ ! -e "$old/qiv_start_2.exe" ] || fail "the upgrade left the launcher in the old folder"
  [ -f "$old/terminale/kasa/kasa.exe" ] && [ -f "$old/config/servers.cfg" ] ||
    fail "the upgrade took the old folder's files"
  [ "$(closed_in "$dir/upgrade.log" 'write access to the earlier working folder was removed')" = 1 ] ||
    fail "the upgrade left the old folder open to users"
  grep -qF "http://127.0.0.1:9/ $base_url" <<<"$(machine_value servers)" || fail "the upgrade lost SERVERS"
  grep -q 'release_serial.*5$' <<<"$(machine_value release_serial)" || fail "no RELEASE_SERIAL in HKLM"
  [ "$("$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
       grep -c 'DisplayName.*qiv_start_2')" = 1 ] || fail "the upgrade installed beside the old package"
  local shortcut
  shortcut=$(menu)/KASA.lnk
  [ -f "$(menu)/MAGAZYN.lnk" ] && [ -f "$shortcut" ] || fail "shortcuts after the upgrade: $(menu)"
  grep -qx 'KASA' <<<"$(strings -el -n 4 "$shortcut")" || fail "the shortcut has no argument KASA"
  grep -qF 'Program Files\QIV\qiv_start_2' <<<"$(strings -el "$shortcut")" ||
    fail "the shortcut does not start the launcher in Program Files"

  # Wine ignores access lists and gives files the access their Unix modes allow: a folder
  # without write permission stands for the administrators-only one of Windows.
  chmod a-w "$programs"
  local status=0
  (cd "$programs" && exec timeout 120 "$wine" "$programs/qiv_start_2.exe" KASA) >"$dir/seed.out" 2>&1 ||
    status=$?
  chmod u+w "$programs"
  [ "$status" = 0 ] || fail "the seed ended with $status"
  local user
  user=$(find "$users" -maxdepth 5 -type d -path '*/AppData/Local/QIV/qiv_start_2')
  [ -n "$user" ] || fail "no folder of the user's"
  expect_started_in "$user"
  cmp -s "$launcher" "$user/qiv_start_2.exe" || fail "the user's copy did not update itself"
  cmp -s "$dir/newer.exe" "$programs/qiv_start_2.exe" || fail "the update touched Program Files"
  grep -lF 'aktualizacja programu' "$user"/logs/check_version_*.log >/dev/null || fail "no update in the user's logs"
  printf '5\n' | cmp -s - "$user/config/release_serial" || fail "the user's folder lacks the floor"
  printf '%s\r\n' "$base_url" | cmp -s - "$user/config/servers.cfg" || fail "servers.cfg is not the refreshed list"
  [ "$(ls -A "$programs")" = qiv_start_2.exe ] || fail "the seed wrote into its folder: $(ls -A "$programs")"

  msi /i "$new" REINSTALL=ALL REINSTALLMODE=amus /l*v "$(windows_path "$dir/repair.log")" ||
    fail "the repair ended with $?"
  [ "$(closed_in "$dir/repair.log" 'CloseEarlierFolder:')" = 0 ] || fail "the repair changed permissions"
  ! msi /i "$earlier" || fail "an older package installed over a newer one"
  cmp -s "$dir/newer.exe" "$programs/qiv_start_2.exe" || fail "an older package replaced the launcher"

  msi /x "$new" || fail "the uninstall ended with $?"
  installed_package=
  [ ! -e "$programs/qiv_start_2.exe" ] || fail "the uninstall left the launcher"
  [ -z "$(menu)" ] || fail "the uninstall left the shortcuts"
  [ -z "$(machine_value servers)" ] || fail "the uninstall left SERVERS"
  [ -f "$user/terminale/kasa/kasa.exe" ] && [ -f "$old/terminale/kasa/kasa.exe" ] ||
    fail "the uninstall took the users' files"
  forget_folders
}

setup
"case_$case_name"
echo "launcher_e2e: $case_name passed"

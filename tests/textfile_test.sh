#!/usr/bin/env bash
# The fleet path end to end: the Debian package's systemd units checked offline (no systemd runs
# here), its manual pages' sections, and a real node_exporter scraping what `qzbios-dump --format prometheus --output` writes,
# also while the file is rewritten 200 times.
#   tests/textfile_test.sh TOOL QZBIOS_DUMP_DEB TREE
set -euo pipefail
tool=$1 deb=$2 tree=$3
work=$(mktemp -d)
exporter=
trap '[ -z "$exporter" ] || kill "$exporter"; rm -rf "$work"' EXIT
fail() { echo "textfile_test: $*" >&2; exit 1; }

# A root with the machine's own units and the package's files, for systemd-analyze to resolve
# the units' dependencies and commands.
mkdir -p "$work/root/lib/systemd"
cp -r /lib/systemd/system "$work/root/lib/systemd/"
dpkg-deb -x "$deb" "$work/root"
units=(qzbios-textfile.service qzbios-textfile.timer)
report=$(systemd-analyze verify --man=no --root="$work/root" "${units[@]}" 2>&1) || fail "$report"
[ -z "$report" ] || fail "systemd-analyze verify: $report"
exposure=$(systemd-analyze security --offline=true --root="$work/root" qzbios-textfile.service |
  grep -o 'Overall exposure level for qzbios-textfile.service: [0-9.]*' | grep -o '[0-9.]*$')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 0.5) }' || fail "exposure '$exposure' is above 0.5"
echo "textfile_test: units verified, exposure $exposure"
for page in man1/qzbios-dump.1 man8/qzbios-textfile.service.8; do
  sections=$(MANWIDTH=100 man -l "$work/root/usr/share/man/$page.gz" 2>&1 | grep -E '^[A-Z][A-Z ]+$' | tr '\n' ,)
  case $page in
  man1/*) want="NAME,SYNOPSIS,DESCRIPTION,OPTIONS,ENVIRONMENT,EXIT STATUS,FILES,EXAMPLES,SEE ALSO," ;;
  *) want="NAME,SYNOPSIS,DESCRIPTION,FILES,EXAMPLES,SEE ALSO," ;;
  esac
  [ "$sections" = "$want" ] || fail "$page has the sections $sections, not $want"
done

# node_exporter with only its textfile collector, on a loopback port of this run's own.
mkdir "$work/textfile"
port=$((20000 + $$ % 20000))
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$work/textfile" 2>"$work/exporter.log" &
exporter=$!
write() {
  env -u QZ_WMI_CAPTURE QZ_FIRMWARE_ATTRIBUTES_DIR="$tree" "$tool" --format prometheus \
    --output "$work/textfile/qzbios.prom" 2>/dev/null
}
# A scrape must hold every series of the file and no textfile error.
scrape() {
  local metrics
  metrics=$(curl -sf "http://127.0.0.1:$port/metrics") || return 1
  [ "$(grep -c '^qzbios_' <<<"$metrics")" = "$series" ] &&
    grep -q '^node_textfile_scrape_error 0$' <<<"$metrics"
}
write
series=$(grep -c '^qzbios_' "$work/textfile/qzbios.prom")
[ "$series" -gt 10 ] || fail "the file holds $series series"
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$port/metrics" >/dev/null && break; sleep 0.1; done
scrape || fail "the first scrape lacks settings or has a textfile error: $(cat "$work/exporter.log")"
(for _ in $(seq 200); do write; done) &
writer=$!
bad=0
for _ in $(seq 200); do scrape || bad=$((bad + 1)); done
wait "$writer" || fail "a rewrite failed"
[ "$bad" = 0 ] || fail "$bad of 200 scrapes during rewrites saw an error or a partial file"
[ -z "$(find "$work/textfile" -name '.*')" ] || fail "temporary files were left: $(ls -A "$work/textfile")"
echo "textfile_test: 200 scrapes during 200 rewrites, every one whole"

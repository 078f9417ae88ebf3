#!/bin/bash
# Runs inside the test machine at boot (qzbios-vm-test.service): installs the previous release and
# runs its textfile service, upgrades to the packages under test, reads the settings through each
# firmware-attributes driver as root and as nobody, then checks the units under systemd,
# node_exporter's scrape and Prometheus's rules. It writes what it saw to /qzbios-vm-results, where
# vm_test.sh reads it, and powers the machine off.
out=/qzbios-vm-results
mkdir -p $out
exec >$out/guest.log 2>&1
set -x
echo "qzbios-vm: started" >/dev/console
file=/var/lib/prometheus/node-exporter/qzbios.prom
check() { # WHAT COMMAND...: records whether COMMAND succeeds
  local what=$1
  shift
  if "$@"; then echo "ok $what"; else echo "FAIL $what"; fi | tee -a $out/checks >/dev/console
}
within() { # SECONDS COMMAND...: whether COMMAND succeeds within SECONDS
  local seconds=$1
  shift
  for _ in $(seq "$seconds"); do "$@" && return 0 || sleep 1; done
  return 1
}
owned() { [ "$(stat -c '%U:%G %a' $file)" = "root:prometheus 640" ]; }
cd /opt/qzbios-vm

dpkg -i previous/*.deb
modprobe think_lmi
systemctl enable --now qzbios-textfile.timer
systemctl start qzbios-textfile.service
check "the previous release writes root:prometheus 0640" owned
dpkg -i new/*.deb
check "the upgrade leaves the file root:prometheus 0640" owned
check "the upgrade leaves the timer enabled" systemctl is-enabled --quiet qzbios-textfile.timer
check "the upgrade's units are loaded" \
  test "$(systemctl show -P NeedDaemonReload qzbios-textfile.{service,timer} | grep -c '^no$')" = 2

for driver in think_lmi dell_wmi_sysman; do
  modprobe $driver
  ls /sys/class/firmware-attributes >$out/$driver.devices
  qzbios-dump --format json >$out/$driver.json
  qzbios-dump --all-settings --format json >$out/$driver.all.json
  qzbios-dump --format prometheus >$out/$driver.prom
  setpriv --reuid=nobody --regid=nogroup --clear-groups qzbios-dump >/dev/null 2>$out/$driver.nobody
  echo $? >>$out/$driver.nobody
  rmmod $driver
done

modprobe think_lmi
unit=qzbios-textfile
check "the units verify" test -z "$(systemd-analyze verify --man=no $unit.{service,timer} 2>&1)"
exposure=$(systemd-analyze security $unit.service | grep -o "level for $unit.service: [0-9.]*")
check "the service's exposure (${exposure##* }) is 0.5 or lower" \
  awk -v e="${exposure##* }" 'BEGIN { exit !(e != "" && e <= 0.5) }'
rm -f $file
systemctl start qzbios-textfile.service
check "the service writes root:prometheus 0640" owned
# The timer's period shortened by a drop-in, so that it fires while the test waits.
mkdir /etc/systemd/system/qzbios-textfile.timer.d
printf '[Timer]\nOnUnitActiveSec=20s\n' >/etc/systemd/system/qzbios-textfile.timer.d/short.conf
systemctl daemon-reload && systemctl restart qzbios-textfile.timer && rm $file
check "the timer runs the service" within 120 test -e $file
series=$(grep -c '^qzbios_' $file)
whole() { # node_exporter serves every series of the file, and no textfile error
  curl -sf http://127.0.0.1:9100/metrics >$out/node.metrics &&
    [ "$(grep -c '^qzbios_' $out/node.metrics)" = "$series" ] &&
    grep -q '^node_textfile_scrape_error 0$' $out/node.metrics
}
check "node_exporter serves the file" within 60 whole
(for _ in $(seq 100); do qzbios-dump --format prometheus --output $file; done) &
torn=0
for _ in $(seq 100); do whole || torn=$((torn + 1)); done
wait $! && rewritten=yes
check "100 scrapes during 100 rewrites see the whole file" test "${rewritten:-no} $torn" = "yes 0"
check "no temporary file is left" [ -z "$(find ${file%/*} -name '.*')" ]

# Prometheus scrapes node_exporter and evaluates the shipped rules, with a baseline set in its one
# place so that this machine's VTX differs from it.
cat >/etc/qzbios/qzbios-baseline.rules.yml <<'END'
groups:
  - name: qzbios-baseline
    rules:
      - {record: qzbios_baseline_info, expr: vector(1), labels: {setting: VTX, value: Disable}}
END
cat >/etc/prometheus/prometheus.yml <<'END'
global: {scrape_interval: 2s, evaluation_interval: 2s}
rule_files: [/usr/share/qzbios/qzbios.rules.yml, /etc/qzbios/qzbios-baseline.rules.yml]
scrape_configs:
  - job_name: node
    static_configs: [{targets: ['127.0.0.1:9100']}]
END
systemctl restart prometheus
alerted() {
  curl -sf http://127.0.0.1:9090/api/v1/alerts >$out/alerts.json && grep -q Differs $out/alerts.json
}
check "Prometheus raises an alert" within 180 alerted
curl -sf 'http://127.0.0.1:9090/api/v1/query?query=qzbios_settings_published' >$out/query.json
curl -sf http://127.0.0.1:9090/api/v1/rules >$out/rules.json
echo done >>$out/checks
sync
systemctl poweroff

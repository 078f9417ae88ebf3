#!/usr/bin/env bash
# The fleet path on a real machine: a Debian 12 guest with its own kernel, systemd, node_exporter
# and Prometheus, whose firmware (ACPI tables that firmware.py makes from CAPTURE) serves the
# capture's settings to the kernel's think-lmi and dell-wmi-sysman drivers. In it guest.sh upgrades
# from the previous release to the packages in DEBS and checks them; here, what it read through each
# driver is compared with the capture replayed by TOOL. The Debian root and the previous release's
# packages are kept under build/vm; the guest runs under KVM where one boots, under TCG otherwise.
#   tests/vm/vm_test.sh TOOL DEBS CAPTURE
set -euo pipefail
tool=$1 debs=$2 capture=$3
vm=build/vm
fail() { echo "vm_test: $*" >&2; exit 1; }
packages() { ls "$1"/*.deb | grep -v -e -dbgsym_ -e -dev_ -e python3-; }
mkdir -p $vm

# The previous release's packages: built from the last commit whose changelog names it.
version() { git show "$1:debian/changelog" | sed -n '1s/.*(\(.*\)).*/\1/p'; }
current=$(version HEAD)
for commit in $(git log --format=%H -- debian/changelog); do
  [ "$(version "$commit")" = "$current" ] || break
done
old=$vm/previous-$(version "$commit")
if [ ! -e "$old/built" ]; then
  rm -rf "$old" && mkdir -p "$old/src"
  git archive "$commit" | tar -x -C "$old/src"
  (cd "$old/src" && DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -us -uc -b >../build.log 2>&1) ||
    fail "building $(version "$commit") failed; see $old/build.log"
  rm -rf "$old/src" && touch "$old/built"
fi

base=$vm/debian-12.tar
if [ ! -e $base ]; then
  mmdebstrap --format=tar --variant=minbase --include=systemd-sysv,udev,kmod,curl \
    --include=linux-image-amd64,prometheus,prometheus-node-exporter bookworm $base.part \
    2>$vm/mmdebstrap.log || fail "mmdebstrap failed; see $vm/mmdebstrap.log"
  mv $base.part $base
fi

# The guest's root holds setuid programs: it stands in a folder only root may enter, and it, the
# disk and a running qemu go on any exit.
root=$(mktemp -d "$PWD/$vm/root.XXXXXX")
qemu=
cleanup() {
  [ -z "$qemu" ] || kill "$qemu" 2>/dev/null || true
  rm -rf "$root" $vm/disk.img
}
trap cleanup EXIT
rm -rf $vm/man && mkdir -p $root/opt/qzbios-vm/previous $root/opt/qzbios-vm/new
tar -xf $base -C $root
cp $(packages "$old") $root/opt/qzbios-vm/previous/
cp $(packages "$debs") $root/opt/qzbios-vm/new/
cp tests/vm/guest.sh $root/opt/qzbios-vm/
echo qzbios-vm >$root/etc/hostname
# The drivers are loaded one at a time by the test, not by udev.
printf 'blacklist think_lmi\nblacklist dell_wmi_sysman\n' >$root/etc/modprobe.d/qzbios-vm.conf
cat >$root/etc/systemd/system/qzbios-vm-test.service <<'END'
[Unit]
After=prometheus.service prometheus-node-exporter.service
[Service]
Type=oneshot
ExecStart=/bin/bash /opt/qzbios-vm/guest.sh
[Install]
WantedBy=multi-user.target
END
ln -s ../qzbios-vm-test.service $root/etc/systemd/system/multi-user.target.wants/

# The manual pages' sections.
dpkg-deb -x "$debs"/qzbios-dump_*.deb $vm/man
for page in man1/qzbios-dump.1 man8/qzbios-textfile.service.8; do
  sections=$(MANWIDTH=100 man -l $vm/man/usr/share/man/$page.gz | grep -E '^[A-Z][A-Z ]+$' |
    tr '\n' ,)
  case $page in
  man1/*) want="NAME,SYNOPSIS,DESCRIPTION,OPTIONS,ENVIRONMENT,EXIT STATUS,FILES,EXAMPLES," ;;
  *) want="NAME,SYNOPSIS,DESCRIPTION,FILES,EXAMPLES," ;;
  esac
  [ "$sections" = "${want}SEE ALSO," ] || fail "$page has the sections $sections, not ${want}..."
done

python3 tests/vm/firmware.py "$capture" $vm
for table in thinklmi dell; do
  iasl -p $vm/$table $vm/$table.asl >$vm/iasl.log 2>&1 || fail "iasl: $(cat $vm/iasl.log)"
done

# Boots a fresh disk of the root under accelerator $1; false when the test did not start within $2
# seconds or did not end within 30 minutes.
boot() {
  rm -f $vm/disk.img $vm/console.log && truncate -s 4G $vm/disk.img
  mke2fs -q -F -t ext4 -d $root $vm/disk.img
  timeout 1800 qemu-system-x86_64 -accel "$1" -m 2048 -smp 2 -display none -no-reboot -nic none \
    -kernel $root/boot/vmlinuz-* -initrd $root/boot/initrd.img-* \
    -append "root=/dev/vda rw console=ttyS0 panic=-1" -serial file:$vm/console.log \
    -drive file=$vm/disk.img,if=virtio,format=raw -smbios type=11,value="Dell System" \
    -acpitable file=$vm/thinklmi.aml -acpitable file=$vm/dell.aml 2>$vm/qemu.log &
  qemu=$!
  started() { grep -q 'qzbios-vm: started' $vm/console.log 2>/dev/null; }
  for _ in $(seq "$2"); do started && break || sleep 1; done
  started || { kill $qemu; wait $qemu || true; qemu=; return 1; }
  local status=0
  wait $qemu || status=$?
  qemu=
  return $status
}
start=$SECONDS
[ -w /dev/kvm ] && boot kvm 60 || boot tcg 900 || fail "no start: $(tail $vm/console.log)"
echo "vm_test: the guest ran for $((SECONDS - start)) s"

out=$vm/results
rm -rf $out && debugfs -R "rdump /qzbios-vm-results $vm" $vm/disk.img 2>/dev/null
mv $vm/qzbios-vm-results $out
[ "$(tail -n 1 $out/checks)" = done ] || fail "the guest stopped: $(tail -n 20 $out/guest.log)"
! grep FAIL $out/checks || fail "checks in the guest failed; see $out/guest.log"
python3 - "$out" "$tool" "$capture" <<'END'
import json, subprocess, sys
out, tool, capture = sys.argv[1:]
def replay(*args):
    env = {"QZ_WMI_CAPTURE": capture}
    return subprocess.run([tool, *args], env=env, capture_output=True, text=True).stdout
def settings(text):
    return sorted((s["setting"], s["value"]) for s in json.loads(text)["firmware_settings"])
failed = []
for driver, device in (("think_lmi", "thinklmi"), ("dell_wmi_sysman", "dell-wmi-sysman")):
    read = lambda name: open(f"{out}/{driver}{name}", encoding="utf-8").read()
    checks = {
        "the driver's device": read(".devices") == device + "\n",
        "the records": read(".json") == replay("--format", "json"),
        "every setting": settings(read(".all.json")) == settings(
            replay("--all-settings", "--format", "json")),
        "the series": read(".prom") == replay("--format", "prometheus").replace(
            'source="capture"', 'source="firmware-attributes"'),
        "as nobody": "as root" in read(".nobody") and read(".nobody").endswith("\n3\n"),
    }
    failed += [f"{driver}: {what}" for what, ok in checks.items() if not ok]
alerts = json.load(open(f"{out}/alerts.json"))["data"]["alerts"]
firing = sorted((a["labels"]["alertname"], a["labels"].get("setting"), a["state"]) for a in alerts)
if firing != [("QzbiosSettingDiffers", "VTX", "firing")]:
    failed.append(f"Prometheus's alerts are {firing}")
query = json.load(open(f"{out}/query.json"))["data"]["result"]
if [r["value"][1] for r in query] != ["31"]:
    failed.append(f"Prometheus reads qzbios_settings_published as {query}")
rules = json.load(open(f"{out}/rules.json"))["data"]["groups"]
if any(r["health"] != "ok" for g in rules for r in g["rules"]):
    failed.append("a rule did not evaluate")
sys.exit("vm_test: " + "; ".join(failed) if failed else 0)
END
cat $out/checks
rm -rf $vm/man
echo "vm_test: both drivers read the capture; $(grep -c ^ok $out/checks) checks in the guest passed"

# QEMU's NVMe controller: admin commands through the namespace's node, and
# nvme-cli inside the guest as the peer reading the same controller.
modprobe nvme || exit 1
wait_for /dev/nvme0n1 && wait_for /dev/nvme0 || exit 1
cli list list
cli id identify --drive 0
cp /tmp/cli.out /tmp/id.out
cli tid --trace identify --drive 0
cli info info --drive 0
cp /tmp/cli.out /tmp/info.out

# nvme-cli's reading, put in brisquel-cli's words; "peer|" says whether they agree
nvme id-ctrl /dev/nvme0 > /tmp/idctrl.txt && nvme fw-log /dev/nvme0 > /tmp/fwlog.txt || exit 1
sed 's/^/idctrl| /' /tmp/idctrl.txt | grep -E '\| (sn|mn|fr|frmw|fwug|mdts|mtfa) '
sed 's/^/fwlog| /' /tmp/fwlog.txt
field() { sed -n "s/^$2 *: *//p" "$1" | sed 's/ *$//'; }
# ascii 0xHEX: a slot's revision as fw-log prints it, a little-endian number
# of 8 ASCII bytes, back to its text (trailing spaces dropped)
ascii() {
  h=${1#0x}
  text=""
  while [ -n "$h" ]; do
    byte=${h#${h%??}}
    h=${h%??}
    [ "$byte" = 00 ] || text="$text$(printf "\\x$byte")"
  done
  echo "$text" | sed 's/ *$//'
}
agree() {  # agree WHAT FILE LINE...: each LINE is a whole line of FILE
  what=$1
  file=$2
  shift 2
  for line in "$@"; do
    grep -qxF "$line" "$file" || { echo "peer| $what: \"$line\" missing"; return; }
  done
  echo "peer| $what agree"
}
agree "identify and nvme id-ctrl (mn, fr, sn)" /tmp/id.out \
  "$(field /tmp/idctrl.txt mn) FW:$(field /tmp/idctrl.txt fr) SN:$(field /tmp/idctrl.txt sn)"
afi=$(($(field /tmp/fwlog.txt afi)))
next=$(((afi >> 4) & 7))
[ "$next" -eq 0 ] && next=none
frmw=$(($(field /tmp/idctrl.txt frmw)))
slots=$(((frmw >> 1) & 7))
set -- "active-slot	$((afi & 7))" "next-slot	$next" "slots	$slots"
for n in $(seq 1 "$slots"); do
  frs=$(sed -n "s/^frs$n *: *\(0x[0-9a-fA-F]*\).*/\1/p" /tmp/fwlog.txt)
  revision=$(ascii "${frs:-0x0}")
  set -- "$@" "slot$n	${revision:-(empty)}"
done
agree "info and nvme fw-log (afi, frs1-$slots, frmw)" /tmp/info.out "$@"

# A firmware update: QEMU's controller clears OACS bit 2 and its one slot is
# read-only, so the update is refused after Identify and the slot log, before
# any firmware command (strace counts the two ioctls); with --force it goes,
# and the controller's refusal of Firmware Image Download (11h, Invalid
# Command Opcode) ends it FAILED, never success. The vendor download is an ATA
# command: refused before anything is sent.
firmware /tmp/fw.bin 8
strace -f -qq -o /tmp/strace.out -e trace=ioctl brisquel-cli dlmc --drive 0 --mode 07 --yes \
  /tmp/fw.bin > /tmp/cli.out 2>&1
tell dlmc $?
sed 's/^/dlmc-strace| /' /tmp/strace.out
echo "dlmc| commands sent: $(grep -cE 'SG_IO|NVME_IOCTL|ioctl\([0-9]+, 0xc0484e4' /tmp/strace.out)"
cli force dlmc --drive 0 --mode 07 --yes --force /tmp/fw.bin
cli dptm dptm --drive 0 --yes /tmp/fw.bin

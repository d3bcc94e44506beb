# A bulk-only USB disk on xHCI: SCSI pass-through; the emulated disk has no
# SAT layer, so ATA PASS-THROUGH is refused as an invalid operation code.
modprobe xhci_pci && modprobe usb_storage delay_use=0 && modprobe sd_mod || exit 1
wait_for /sys/block/sda 300 || exit 1
cli list list
# the SCSI mid-layer logs every command it queues: the identify goes out as
# ATA PASS-THROUGH(12), the SCSI pass-through form
echo $((7 << 9)) > /proc/sys/dev/scsi/logging_level
cli usb identify --drive 0
echo 0 > /proc/sys/dev/scsi/logging_level
# the trace shows what the bridge answered
cli tusb --trace identify --drive 0
cli usbinfo info --drive 0
dmesg | grep -i "pass.through" | sed 's/^\[[ 0-9.]*\] /kernel| /'

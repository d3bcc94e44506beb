# PIIX3 IDE: first with no driver on the channels (raw port I/O), then with
# ata_piix bound (port I/O refused, pass-through through libata).
probe pci
probe pio 0x1F0
probe pio 0x170
modprobe ata_piix && modprobe sd_mod || exit 1
wait_for /sys/block/sda && wait_for /sys/block/sdb || exit 1
probe pio 0x1F0
probe list
for disk in /dev/sda /dev/sdb; do probe ata "$disk"; done
# without root: nothing gets through, and each path says why (failing is
# what these are for)
probe --as-nobody pci
probe --as-nobody pio 0x170 || true
probe --as-nobody ata /dev/sda || true

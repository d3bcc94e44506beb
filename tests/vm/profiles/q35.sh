# ICH9 AHCI: pass-through through libata's ahci; the legacy ports float.
modprobe ahci && modprobe sd_mod || exit 1
wait_for /sys/block/sda || exit 1
probe pci
probe pio 0x1F0
probe list
probe ata /dev/sda

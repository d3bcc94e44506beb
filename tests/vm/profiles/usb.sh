# A bulk-only USB disk on xHCI: SCSI pass-through; the emulated disk has no
# SAT layer, so ATA PASS-THROUGH is refused as an invalid operation code.
modprobe xhci_pci && modprobe usb_storage delay_use=0 && modprobe sd_mod || exit 1
wait_for /sys/block/sda 300 || exit 1
probe list
probe scsi /dev/sda
probe ata /dev/sda

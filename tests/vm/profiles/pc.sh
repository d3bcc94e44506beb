# PIIX3 IDE: first with no driver on the channels (raw port I/O), then with
# ata_piix bound (port I/O refused, the drives read through libata).
cli scan scan
cli pio0 identify --port 0x1F0
cli tpio --trace identify --port 0x1F0
cli pio1 identify --channel 1
# device 1 of the primary channel is absent behind a present device 0, which
# answers status 00h for it and ignores its commands: the wait ends by itself
# within seconds (it once waited without end), and --trace shows device 1
# selected (B0)
start=$(cut -d' ' -f1 /proc/uptime | tr -d .)
cli absent identify --channel 0 --device 1
echo "absent| took $(($(cut -d' ' -f1 /proc/uptime | tr -d .) - start)) cs"
cli tabsent --trace identify --channel 0 --device 1
# QEMU aborts DOWNLOAD MICROCODE with status 41h (DSC clear): the waits end on
# the error and no image data follows
firmware /tmp/fw4.bin 4
cli pioinfo info --port 0x1F0
# its IDENTIFY says DOWNLOAD MICROCODE is unsupported: refused unless --force
cli piorefuse dlmc --port 0x1F0 --mode 07 --yes /tmp/fw4.bin
cli piodlmc dlmc --port 0x1F0 --mode 07 --yes --force /tmp/fw4.bin
modprobe ata_piix && modprobe sd_mod || exit 1
wait_for /sys/block/sda && wait_for /sys/block/sdb || exit 1
# ata_piix holds the primary channel now: port I/O there is refused, and
# the program says why; the status it reads floats, so the wait ends at once
cli held identify --port 0x1F0
cli list list
cli ata0 identify --drive 0
cli ata1 identify --drive 1
# 300 blocks in one command (the count spans two registers) reach the drive,
# which aborts DOWNLOAD MICROCODE
firmware /tmp/fw300.bin 300
cli ata0info info --drive 0
cli dlmc300 dlmc --drive 0 --mode 07 --yes --force /tmp/fw300.bin
# without root: no port I/O, no disk
cli_nobody nscan scan
cli_nobody nata identify --drive 0

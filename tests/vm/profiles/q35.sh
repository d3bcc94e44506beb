# ICH9 AHCI: pass-through through libata's ahci; the legacy ports float.
modprobe ahci && modprobe sd_mod || exit 1
wait_for /sys/block/sda || exit 1
cli scan scan
# AHCI mode: the function has no task-file ports to offer
cli chan0 identify --channel 0
# the legacy ports float (status FF) and no driver holds them: the wait ends
# at once and says why
cli float identify --port 0x1F0
cli list list
cli ata identify --drive 0
cli tata --trace identify --drive 0
# QEMU aborts DOWNLOAD MICROCODE and the vendor (SMART log) commands
firmware /tmp/fw.bin 1
cli info info --drive 0
# its IDENTIFY says DOWNLOAD MICROCODE is unsupported: refused unless --force
cli refuse dlmc --drive 0 --mode 07 --yes /tmp/fw.bin
cli dlmc dlmc --drive 0 --mode 07 --yes --force /tmp/fw.bin
# the same under strace, which decodes SG_IO: each ATA PASS-THROUGH(16) block
# as it went out, its time limit and the sense the kernel gave back. DOWNLOAD
# MICROCODE asks for the registers (CK_COND); QEMU aborts it and the kernel
# carries the registers in fixed-format sense, which --trace shows read.
firmware /tmp/fw2.bin 2
strace -f -qq -o /tmp/strace.out -e trace=ioctl -xx -s 20 -v \
  brisquel-cli --trace dlmc --drive 0 --mode 07 --yes --force /tmp/fw2.bin > /tmp/cli.out 2>&1
tell sdlmc $?
sgio sdlmc-sg
# a 16 MiB segmented download (mode 03, 128-block segments) whose segments
# never reach QEMU, which would abort the first: strace makes each DOWNLOAD
# MICROCODE ioctl return at once as a good completion (the worker thread's
# first ioctl, IDENTIFY, and the ones after the segments go to the disk). So
# every segment's block shows, and the program's own system calls per
# segment can be counted.
firmware /tmp/fw16m.bin 32768
firmware /tmp/fw64k.bin 128
inject="inject=ioctl:retval=0:when=2..257"
strace -f -qq -o /tmp/strace.out -e trace=ioctl -e "$inject" -xx -s 20 -v \
  brisquel-cli dlmc --drive 0 --mode 03 --segment-blocks 128 --yes --force /tmp/fw16m.bin \
  > /tmp/cli.out 2>&1
tell seg $?
sgio seg-sg | grep -c " 92 00 timeout=" | sed 's/^/seg-sg| DOWNLOAD MICROCODE blocks: /'
sgio seg-sg | grep " 92 00 timeout=" | grep -vc "^seg-sg| 85 0b [2367abef]" |
  sed 's/^/seg-sg| without CK_COND: /'
# the counts: the whole download, one of a single segment, and hdparm's
# download of the same file, which stops where QEMU's IDENTIFY says DOWNLOAD
# MICROCODE is unsupported (it has no override), so only its fixed cost shows
syscalls brisquel-16m "$inject" brisquel-cli dlmc --drive 0 --mode 03 --segment-blocks 128 \
  --yes --force /tmp/fw16m.bin
syscalls brisquel-64k "inject=ioctl:retval=0:when=2" brisquel-cli dlmc --drive 0 --mode 03 --segment-blocks 128 \
  --yes --force /tmp/fw64k.bin
syscalls hdparm-16m "" hdparm --fwdownload-mode3 /tmp/fw16m.bin --yes-i-know-what-i-am-doing \
  --please-destroy-my-drive /dev/sda
firmware /tmp/dptm.bin 4
cli dptm dptm --drive 0 --yes /tmp/dptm.bin
# 150 KiB in one command is beyond what QEMU's AHCI disk takes (128 KiB): refused unsent
firmware /tmp/fw300.bin 300
cli dlmc300 dlmc --drive 0 --mode 07 --yes --force /tmp/fw300.bin
# a disk with a mounted filesystem: a lasting download is refused before
# anything else is asked of the drive
# (ext4 takes its checksum driver from crc32c_generic, which nothing loads
# on demand in this guest)
modprobe crc32c_generic && modprobe ext4 && mke2fs -q /dev/sda && mkdir -p /mnt/disk &&
  mount -t ext4 /dev/sda /mnt/disk || exit 1
cli mounted dlmc --drive 0 --mode 07 --yes /tmp/fw.bin
umount /mnt/disk
# brisquel-cli against the system's tools on the same disk, in turns; only
# when asked for (scripts/bench), since it adds a hundred runs to the boot
if grep -q brisquel.timings=1 /proc/cmdline; then
  for round in 1 2; do
    timed list 10 brisquel-cli list
    timed lsblk 10 lsblk
    timed identify 10 brisquel-cli identify --drive 0
    timed hdparm 10 hdparm -I /dev/sda
    timed scan 10 brisquel-cli scan
    timed lspci 10 lspci
  done
fi

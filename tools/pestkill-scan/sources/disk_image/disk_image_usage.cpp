#include <cstdio>

#include "tools/pestkill-scan/sources/disk_image/disk_image_scan.h"

namespace {

const char Usage[] =
    "\n"
    "Disk images, read without mounting them (a Linux build that links libtsk):\n"
    "      --image      each PATH is a disk image: raw or split raw (.dd, .001, from\n"
    "                   the first file), EWF (.E01, split from the first file), VHD,\n"
    "                   VMDK or AFF. Every partition of its table (MBR, GPT), or the\n"
    "                   image as one volume, is read with its file system (NTFS, FAT,\n"
    "                   exFAT, ext) and every file in it is judged as -r judges a\n"
    "                   tree, however deep. Lines name IMAGE#pN@SECTOR/PATH (N the\n"
    "                   partition's slot in its table, SECTOR its first sector) or\n"
    "                   IMAGE#volume/PATH for an image without a partition table.\n"
    "                   A partition without a file system that can be read is\n"
    "                   passed over with its type. The image is only read.\n"
    "                   Also judged: each NTFS named data stream (PATH:STREAM) and\n"
    "                   each deleted file whose metadata still describes its data\n"
    "                   (PATH (deleted), or PATH (deleted, realloc) where its entry\n"
    "                   now belongs to another file). A file that cannot be read\n"
    "                   whole, or is compressed by Windows or encrypted, is \"not\n"
    "                   checked\". After each volume a line on standard error gives\n"
    "                   the names walked and the metadata entries in use.\n"
    "                   An NTFS volume with Windows/System32/config/SOFTWARE or\n"
    "                   DEFAULT is scanned as --windows-root scans it mounted (its\n"
    "                   hives, the impostor rule, the changes --clean would make),\n"
    "                   in a build that links libhivex; the image is never cleaned.\n"
    "      --volume-time-limit SECONDS  with --image: each volume is scanned in a\n"
    "                   process of its own, ended after SECONDS (default 3600); a\n"
    "                   volume whose scan faults or runs out of time is one ERROR\n"
    "                   line, what it reported before stands, and the scan goes on\n"
    "With --json each file also gives \"image\":PATH,\"partition\":{\"index\":N,\n"
    "\"start_sector\":N}|null,\"inner_path\":PATH,\"inode\":N,\"deleted\":BOOL,\n"
    "\"stream\":NAME|null (and \"realloc\":BOOL when deleted); each volume closes with\n"
    "{\"volume\":NAME,...,\"names\":N,\"deleted_names\":N,\"directories\":N,\"metadata_in_use\":N|null}.\n"
    "A format that cannot be read (QCOW2, VHDX, a BitLocker volume) is an ERROR line\n"
    "naming it. -j N scans up to N volumes at once (of one image or of several),\n"
    "each in its process, and the report is the same, in the same order, for every\n"
    "N; the files of one volume are judged one at a time. --exclude applies to the\n"
    "paths inside the volumes.\n";

}  // namespace

void PrintDiskImageUsage(FILE* stream) { std::fputs(Usage, stream); }

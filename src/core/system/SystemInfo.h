// Facts about the running system: processors, screen, kernel names, and the
// file systems and CD/DVD drives the disk and CD/DVD tests may use.
#pragma once

#include "SystemRecords.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mntent.h>
#include <string>
#include <sys/statvfs.h>

// Most mount-table entries kept in each device list.
constexpr int kMaxMountEntries = 20;

// One mount-table entry accepted as a disk test candidate.
struct FileSystemStruct {
    char name[256];
    char mount_point[256];
    char type[256];
    char opts[256];
    std::int32_t freq;
    std::int32_t pass;
    char alias[256];
    bool mounted;
    struct statvfs vfs;
};

// One CD/DVD drive; fd is the descriptor the CD/DVD test opens (0 until then).
struct MultimediaStruct {
    std::int32_t fd;
    char name[256];
    char mount_point[256];
    char type[256];
    char opts[256];
    std::int32_t freq;
    std::int32_t pass;
    char alias[256];
    bool mounted;
    struct statvfs vfs;
};

// Disk test candidates; filled at start-up and by UpdateFileSystemStruct in
// the GUI thread, read by the disk test threads during a run.
extern FileSystemStruct gFileSystemStructPtr[kMaxMountEntries];
// Entries used in gFileSystemStructPtr. GUI thread writes, any thread reads.
extern int gNumMntPoints;
// CD/DVD drives; filled at start-up in the GUI thread.
extern MultimediaStruct gMultimediaStructPtr[kMaxMountEntries];
// Entries used in gMultimediaStructPtr. GUI thread writes, any thread reads.
extern int gNumMMDevices;

// Produces the text xdpyinfo prints; tests hand in a capture instead.
using XdpyinfoSource = std::function<std::string()>;

// Runs "xdpyinfo" and returns what it wrote on standard output (empty when
// it is missing or finds no display). Any thread.
std::string RunXdpyinfo();

// One field of uname(), chosen by the second character of an option such as
// "-r": s system, n node, r release, v/o version, m/i/p machine. Returns an
// error text for other letters or a failing call. The text is owned here and
// stays valid until the calling thread's next call. Any thread.
const char* SystemInfo_uname(const char* option);

// The first 1024 bytes of an issue file (normally "/etc/issue") with the
// getty escapes \m \n \r \s \v \o expanded and trailing newlines removed;
// empty (and a trace line) when the file cannot be opened. The text is owned
// here and stays valid until the calling thread's next call. Any thread.
const char* TranslateEtcIssue(const char* path);

// Writes "<kernel name> (<release>)" for the results record's os_text,
// cut to size and always terminated. Any thread.
void FillOsText(char* out, std::size_t size);

// Fills the processor record from a cpuinfo file. The record must be zero
// beforehand (the processor count adds). Returns 0, or errno when the file
// cannot be opened. GUI thread, at start-up.
int BuildCPUInfoStruct(_CPUINFO* info, const char* path = "/proc/cpuinfo");

// Fills card_name from the X server configuration and width, height and
// depth of screen 0 from xdpyinfo's output; missing sources leave them
// empty or 0. Returns 0. GUI thread, at start-up.
int BuildVideoInfoStruct(
    _VIDEOINFOPM* info, const char* xorgConf = "/etc/X11/xorg.conf", const XdpyinfoSource& xdpyinfo = RunXdpyinfo);

// Lists the disk test candidates of fstab, then of the mounted table, into
// list (kMaxMountEntries entries) and their mount points into
// testconfig.disk_path. Returns the number of entries. GUI thread.
int BuildFileSystemStruct(FileSystemStruct* list, const char* fstab = "/etc/fstab", const char* mtab = "/etc/mtab");

// Refreshes the first gNumMntPoints entries of list from the mounted table
// and appends newly mounted candidates. Returns the new count, which the
// caller stores in gNumMntPoints. GUI thread (preferences).
int UpdateFileSystemStruct(FileSystemStruct* list, const char* mtab = "/etc/mtab");

// Lists the CD/DVD drives of fstab, then of the mounted table, into list
// (kMaxMountEntries entries) and their mount points into
// testconfig.cd_drive_name. Returns the number of entries. GUI thread.
int BuildMultimediaStruct(MultimediaStruct* list, const char* fstab = "/etc/fstab", const char* mtab = "/etc/mtab");

// 0 and a display name in alias (256 bytes) when the mount entry is a disk
// test candidate; -1 otherwise. name is the entry's device. Any thread.
int GetDeviceType(const char* name, const mntent* entry, char* alias);

// 0 and a display name in alias (256 bytes) when the mount entry is a
// CD/DVD drive; -1 otherwise. name is the entry's device. Any thread.
int GetMediaDeviceType(const char* name, const mntent* entry, char* alias);

// Finds the first mounted-table entry whose mount point or device is path
// and measures it into fs. Returns 0, errno when statvfs fails, or -1 when
// there is no such entry or the table cannot be read. Any thread.
int QueryMountedFileSystems(const char* path, FileSystemStruct* fs, const char* mtab = "/etc/mtab");

// Available and total blocks of the file system mounted as path (both 0
// on failure). Returns what QueryMountedFileSystems returned. Any thread.
int GetMountedFileSystemAvailDiskSize(
    const char* path, std::uint64_t* avail, std::uint64_t* total, const char* mtab = "/etc/mtab");

// Looks up a key sequence in "/etc/X11/xorg.conf": keys is one "%s" per key,
// the keys follow. Returns the rest of the line after the last key without
// its leading tabs and blanks, or empty. The text is owned here and stays
// valid until the calling thread's next lookup in xorg.conf. Any thread.
const char* Get_xorg_conf_ByStringVaArgs(const char* keys, ...);
// The same lookup in the X configuration file at path. Any thread.
const char* Get_xorg_conf_ByStringVaArgsIn(const char* path, const char* keys, ...);

// The same lookup in the output of xdpyinfo. The text is owned here and
// stays valid until the calling thread's next xdpyinfo lookup. Any thread.
const char* Get_xdpyinfo_ByStringVaArgs(const char* keys, ...);
// The same lookup in the text source produces. Any thread.
const char* Get_xdpyinfo_ByStringVaArgsFrom(const XdpyinfoSource& source, const char* keys, ...);

// Writes one disk list entry to the debug trace. Any thread.
void PrintFileSystemInfo(const FileSystemStruct* fs);
// Writes one CD/DVD list entry to the debug trace. Any thread.
void PrintMultimediaInfo(const MultimediaStruct* mm);

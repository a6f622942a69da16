// The debug trace: "debug.log" in the program directory, unbuffered so that
// what every thread and every child command writes lands in time order.
#pragma once

#include <cstdio>

// The open trace file, or null (the trace then goes to standard output).
// Set during start-up and exit only, before and after any test thread.
extern FILE* g_fh_debug;

// printf into the trace; no prefix, no newline added. Any thread.
void DPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Like DPrintf, but each call into the trace file is prefixed with
// "<ctime without newline> - <microseconds> ". Any thread.
void VDPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Size of a file from stat, or 0 (and a trace line) when it cannot be read.
long long GetFileSize(const char* path);

// Source location prefix used by many trace lines: "file, function[line]: ".
#define KVX_WHERE __FILE__, __func__, __LINE__

// Facts about the running system for the start-up report and the log headers.
#pragma once

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

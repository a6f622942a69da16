// Error codes, their texts and severities, read once at start-up from
// "KVXErrorClassification.txt" in the program directory.
#pragma once

constexpr int kMaxErrorCodes = 250;
constexpr int kErrorTextSize = 100;

enum Severity : int { kSevNone = 0, kSevInformation = 1, kSevWarning = 2, kSevSerious = 3, kSevCritical = 4 };

extern char e_strings[kMaxErrorCodes][kErrorTextSize];
extern int e_classification[kMaxErrorCodes];
// Codes raised outside the engines: the run control records 206 for a 3D
// test that cannot get OpenGL. Each engine lists its own codes in its
// descriptor's errorCodes.
inline constexpr int kCoreErrorCodes[] = { 206 };
// Codes the classification file gives that nothing raises: 0 is the
// "no error" text.
inline constexpr int kReservedErrorCodes[] = { 0 };

// "NONE", "INFORMATION", ... by severity number.
extern const char* const szErrorClass[5];

// Reads `dir`/KVXErrorClassification.txt into the tables (cleared first).
// Returns -1 when the whole file was read, the number of lines read when a
// bad line ended the reading early, 0 when the file is missing. A text
// longer than 99 characters is cut to 99. GUI thread, at start-up.
int InitialiseErrorClassifications(const char* dir);

// Same, from an explicit file path.
int ReadErrorClassificationFile(const char* path);

// Error codes, their texts and severities, read from
// "KVXErrorClassification.txt" in the program directory.
#pragma once

constexpr int kMaxErrorCodes = 250;
constexpr int kErrorTextSize = 100;

extern char e_strings[kMaxErrorCodes][kErrorTextSize];
extern int e_classification[kMaxErrorCodes];

// Reads the classification file from `dir`. Returns 0 or the errno. GUI
// thread, at start-up.
int InitialiseErrorClassifications(const char* dir);

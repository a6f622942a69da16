// The program's identity as shown in the version line, the caption and the
// reports.
#pragma once

#include <string>

inline constexpr const char* kMaker = "Veltrane (TM) Software";
inline constexpr const char* kProduct = "KalvexTest";
inline constexpr const char* kVersion = "v1.0";
inline constexpr const char* kBuildNumber = "1007";
inline constexpr const char* kPlatform = "Linux";
inline constexpr const char* kSupportEmail = "support@veltrane.example";
inline constexpr const char* kHomePage = "http://www.veltrane.example/kalvextest";

// The compiler's date and time of this build ("Oct  4 2006", "13:54:33").
const char* BuildDate();
const char* BuildTime();

// "Veltrane (TM) Software, KalvexTest v1.0 (1007) Linux - Build: <date> <time>\n"
std::string VersionLine();
// "Veltrane (TM) Software, KalvexTest v1.0 (1007) Linux"
std::string WindowCaption();

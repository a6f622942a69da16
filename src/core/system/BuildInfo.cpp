#include "BuildInfo.h"

#include "MessageBox.h"

const char* BuildDate()
{
    return __DATE__;
}

const char* BuildTime()
{
    return __TIME__;
}

std::string VersionLine()
{
    return Format("%s, %s %s (%s) %s - Build: %s %s\n", kMaker, kProduct, kVersion, kBuildNumber, kPlatform,
        BuildDate(), BuildTime());
}

std::string WindowCaption()
{
    return Format("%s, %s %s (%s) %s", kMaker, kProduct, kVersion, kBuildNumber, kPlatform);
}

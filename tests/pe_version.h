// Reads a version resource (VS_VERSIONINFO) as Windows shows it in a file's properties: the fixed
// numbers and the strings of its string tables.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct VersionInfo {
    VS_FIXEDFILEINFO fixed = {};               // the numbers, file type and flags
    std::map<std::string, std::string> values; // "FileVersion" and the like, from every table

    // Parses the resource's bytes; false with the reason in error when they are no version
    // resource. The strings are read as ASCII.
    bool Parse(const std::vector<BYTE>& data, std::string& error);
};

// Reads the fixed version of a program file and offers it as two 32-bit
// halves, as dotted text, and as a test whether two files carry the same
// version.
#pragma once

#include <cstdint>
#include <string>

class cFileVersion {
public:
    // "major.minor.build.revision", each part unsigned decimal.
    std::string FileVersion() const;

    // True when both files carry version information and the same full
    // version (all four parts). File2 is opened only when File1 has one.
    bool AreFilesEqual(const std::string& File1, const std::string& File2);

    // Reads the file's fixed version. Returns 0 when the file has none (the
    // stored halves are then left as they were). Otherwise returns a non-zero
    // number: the most significant half (major * 65536 + minor) as a signed
    // 32-bit value, so majors of 32768 and more give a negative number, and 1
    // for a version 0.0.x.y, whose most significant half is 0. Read the
    // version itself from VersionMajor and VersionMinor.
    int32_t OpenFile(const std::string& FileName);

    static int16_t LoWord(uint32_t DWord);
    static int16_t HiWord(uint32_t DWord);

    int32_t VersionMajor() const { return m_major; }
    int32_t VersionMinor() const { return m_minor; }

private:
    int32_t m_major = 0;
    int32_t m_minor = 0;
};

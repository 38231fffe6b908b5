#include "controls/cFileVersion.h"

#include <cstring>
#include <vector>

#include "platform/module/FileVersionInfo.h"

std::string cFileVersion::FileVersion() const {
    const auto ms = static_cast<uint32_t>(m_major);
    const auto ls = static_cast<uint32_t>(m_minor);
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
           std::to_string(ls & 0xFFFF);
}

bool cFileVersion::AreFilesEqual(const std::string& File1, const std::string& File2) {
    if (OpenFile(File1) == 0) return false;
    const int32_t ms1 = m_major, ls1 = m_minor;
    if (OpenFile(File2) == 0) return false;
    return ms1 == m_major && ls1 == m_minor;
}

int32_t cFileVersion::OpenFile(const std::string& FileName) {
    uint32_t handle = 0;
    const uint32_t size = platform::GetFileVersionInfoSizeA(FileName.c_str(), &handle);
    if (size == 0) return 0;
    std::vector<uint8_t> buffer(size);
    if (!platform::GetFileVersionInfoA(FileName.c_str(), 0, size, buffer.data())) return 0;

    const void* value = nullptr;
    uint32_t len = 0;
    if (!platform::VerQueryValueA(buffer.data(), "\\", &value, &len) || !value) return 0;
    // A root value that is not a whole fixed record is no version information.
    if (len < sizeof(platform::VS_FIXEDFILEINFO)) return 0;
    platform::VS_FIXEDFILEINFO info;
    std::memcpy(&info, value, sizeof info);
    if (info.dwSignature != platform::VS_FFI_SIGNATURE) return 0;

    m_major = static_cast<int32_t>(info.dwFileVersionMS);
    m_minor = static_cast<int32_t>(info.dwFileVersionLS);
    return m_major != 0 ? m_major : 1;
}

int16_t cFileVersion::LoWord(uint32_t DWord) { return static_cast<int16_t>(DWord & 0xFFFF); }

int16_t cFileVersion::HiWord(uint32_t DWord) { return static_cast<int16_t>(DWord >> 16); }

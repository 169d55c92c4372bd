// OvCfg15: configuration reader over a UTF-8 INI file ([section], key=value, comments after ; or #).
#pragma once

#include "platform/CString.h"

#include <memory>
#include <string>

class COrvoIni {
public:
    COrvoIni();
    explicit COrvoIni(const std::string& path); // loads at once; a missing file is an empty configuration
    ~COrvoIni();
    COrvoIni(const COrvoIni&) = delete;
    COrvoIni& operator=(const COrvoIni&) = delete;

    bool Load(const std::string& path); // re-reads the file; false when it cannot be read
    const std::string& GetPath() const;

    // The value as stored, in GBK (blanks around it are not kept), or the default.
    // Sections and keys compare without regard to ASCII case, as INI readers do.
    CString GetValue(LPCTSTR section, LPCTSTR key, LPCTSTR defaultValue = "") const;
    void SetValue(LPCTSTR section, LPCTSTR key, LPCTSTR value); // in memory only

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

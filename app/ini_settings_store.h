// Per-user settings in an INI file, for systems without a registry: the four values of
// the main window live in <config dir>/<application name>/settings.ini, where the config
// dir is $XDG_CONFIG_HOME or, when that is unset or relative, ~/.config.
#pragma once

#include "app/settings_store.h"

#include <string>
#include <utility>

class CIniSettingsStore : public CSettingsStore {
public:
    explicit CIniSettingsStore(std::string strPath) : m_strPath(std::move(strPath)) {}

    // <config dir>/<strAppName>/settings.ini; empty when no home directory is known.
    static std::string DefaultPath(const std::string& strAppName);

    const std::string& Path() const { return m_strPath; }

    // The stored value, or nDefault / strDefault when the file is missing or damaged, the
    // value is absent, or (for integers) it is not a decimal number in the range of int.
    int ReadInt(const std::string& strSection, const std::string& strName, int nDefault) override;
    std::string ReadString(const std::string& strSection, const std::string& strName,
                           const std::string& strDefault) override;

    // Each write rewrites the file as a whole: the new text goes to a temporary file in the
    // same folder, is flushed to the disk, and then renamed over the old file, so the file
    // is always either the old one or the new one. A damaged file is replaced by a clean
    // one holding what was written. False (old file untouched) when anything fails.
    bool WriteInt(const std::string& strSection, const std::string& strName, int nValue) override;
    bool WriteString(const std::string& strSection, const std::string& strName,
                     const std::string& strValue) override;

private:
    bool Load(class CIniDocument& doc) const;
    bool Store(const class CIniDocument& doc);

    std::string m_strPath;
};

// Writes strText to strPath through a temporary file and a rename (see above), creating
// the folder when it is missing. Keeps errno of the failing call.
bool WriteFileAtomically(const std::string& strPath, const std::string& strText);

// The knowledge colour of a process-list row: the user's file first, then the
// maker's file under the enciphered name.
#include <optional>

#include "platform/dao/dao.h"
#include "sysaccess/KnowledgeBase.h"
#include "sysaccess/modEnDeCryption.h"
#include "sysaccess/modEnumProcess.h"

namespace modEnumProcess {

dao::DatabasePtr g_dbMain;
dao::DatabasePtr g_dbUser;
dao::RecordsetPtr g_rsMain;
dao::RecordsetPtr g_rsUser;

namespace {

// Record sets are local to each query rather than the shared scratch sets:
// the lookup runs from the monitor timer, which can fire while another
// operation waits in a message box, and a local set cannot disturb it.
dao::RecordsetPtr NameQuery(const dao::DatabasePtr& db, const std::wstring& name) {
    return db->OpenRecordset(L"SELECT * FROM Process WHERE ProcessName = " + dao::SqlQuote(name));
}

}  // namespace

long GetProcessListColor(const std::wstring& name) {
    // The user's file: an exact "N" or "Y" decides; anything else asks the maker's file.
    try {
        if (modEnumProcess::g_dbUser) {
            dao::RecordsetPtr rs = NameQuery(modEnumProcess::g_dbUser, name);
            if (rs->RecordCount() != 0) {
                std::optional<std::wstring> virus;
                try {
                    virus = rs->Fields(L"Virus");
                } catch (...) {
                    return kColourKnown;  // an unreadable field counts as "N"
                }
                if (virus && *virus == L"N") return kColourKnown;
                if (virus && *virus == L"Y") return kColourDangerous;
            }
        }
    } catch (...) {
        // A failed query finds nothing.
    }

    std::wstring stored = name;
    try {
        stored = modEnDeCryption::Encrypt(name, modEnDeCryption::g_cipherKey);
    } catch (...) {
        // The name is looked up as it is.
    }
    try {
        if (!modEnumProcess::g_dbMain) return kColourUnknown;
        dao::RecordsetPtr rs = NameQuery(modEnumProcess::g_dbMain, stored);
        if (rs->RecordCount() == 0) return kColourUnknown;
        std::optional<std::wstring> virus;
        try {
            virus = rs->Fields(L"Virus");
        } catch (...) {
            return kColourKnown;
        }
        return virus && *virus == L"Y" ? kColourDangerous : kColourKnown;
    } catch (...) {
        return kColourUnknown;
    }
}

}  // namespace modEnumProcess

#include "tools/KnowledgeFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/jet/Jet.h"

namespace knowledge {

namespace {

// Encipherment pads to whole 8-character blocks; a text field holds 255.
constexpr std::size_t kMaxPlainLength = 248;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::vector<std::wstring> SplitTabs(const std::wstring& line) {
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    while (true) {
        std::size_t tab = line.find(L'\t', start);
        fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos) return fields;
        start = tab + 1;
    }
}

bool IsDate(const std::wstring& s) {
    if (s.size() != 10 || s[4] != L'-' || s[7] != L'-') return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (s[i] < L'0' || s[i] > L'9') return false;
    int year = std::stoi(s.substr(0, 4));
    int month = (s[5] - L'0') * 10 + (s[6] - L'0'), day = (s[8] - L'0') * 10 + (s[9] - L'0');
    if (month < 1 || month > 12) return false;
    // The program turns the text into a date: it must be a day of the calendar.
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    int last = month == 2 && leap ? 29 : kDays[month - 1];
    return day >= 1 && day <= last;
}

bool Trimmed(const std::wstring& s) {
    return !s.empty() && s.front() != L' ' && s.back() != L' ';
}

}  // namespace

Source ParseSource(const std::string& utf8) {
    std::string text = utf8;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    Source source;
    std::vector<std::string> problems;
    std::set<std::wstring> seen;
    auto bad = [&](std::size_t line, const std::string& what) {
        problems.push_back("line " + std::to_string(line) + ": " + what);
    };
    std::vector<std::string> lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::size_t number = i + 1;
        std::wstring line = jet::FromUtf8(lines[i]);
        if (line.empty() || line[0] == L'#') continue;
        std::vector<std::wstring> fields = SplitTabs(line);
        if (fields[0] == L"@Version") {
            if (fields.size() != 2 || !IsDate(fields[1])) bad(number, "expected @Version<TAB>yyyy-mm-dd");
            else if (!source.version.empty()) bad(number, "a second @Version");
            else source.version = fields[1];
            continue;
        }
        if (fields.size() != 3) {
            bad(number, "expected name<TAB>description<TAB>Y|N");
            continue;
        }
        Entry e{fields[0], fields[1], fields[2]};
        if (!Trimmed(e.name) || e.name.size() > kMaxPlainLength)
            bad(number, "the name is empty, has spaces at an end, or is longer than 248 characters");
        if (!Trimmed(e.description) || e.description.size() > kMaxPlainLength)
            bad(number, "the description is empty, has spaces at an end, or is longer than 248 characters");
        if (e.virus != L"Y" && e.virus != L"N") bad(number, "the last field must be Y or N");
        if (!seen.insert(jet::FoldCase(e.name)).second)
            bad(number, "the name " + jet::ToUtf8(e.name) + " is already listed (names ignore case)");
        source.entries.push_back(std::move(e));
    }
    if (source.version.empty()) problems.push_back("no @Version line");
    if (!problems.empty()) {
        std::string message;
        for (const auto& p : problems) message += p + "\n";
        throw SourceError(message);
    }
    return source;
}

Source ReadSource(const std::wstring& path) {
    std::ifstream in{std::filesystem::path(path), std::ios::binary};
    if (!in) throw SourceError("cannot read " + jet::ToUtf8(path) + "\n");
    return ParseSource(std::string(std::istreambuf_iterator<char>(in), {}));
}

std::function<void(const std::wstring& fresh)> g_beforeMove;

// Makes the file beside `path` and renames it into place, so `path` is at
// every moment the whole old file or the whole new one.  Without `replace`
// it goes only where nothing is: false, and the made file removed, when
// something came first.  A failure (a write may land part of its bytes
// first) removes the half-made file.
bool BuildBeside(const std::wstring& path, bool replace,
                 const std::function<void(const std::wstring& fresh)>& build) {
    std::filesystem::path target(path);
    std::filesystem::path fresh = target;
    fresh += L".new";
    std::filesystem::remove(fresh);
    try {
        build(fresh.wstring());
        if (g_beforeMove) g_beforeMove(fresh.wstring());
        if (replace) {
            std::filesystem::rename(fresh, target);
        } else if (!jet::RenameNoReplace(fresh.wstring(), path)) {
            std::filesystem::remove(fresh);
            return false;
        }
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove(fresh, ec);
        throw;
    }
    return true;
}

void WriteMakerFile(const std::wstring& path, const Source& source, const Cipher& encipher,
                    const std::wstring& password) {
    BuildBeside(path, true, [&](const std::wstring& fresh) {
        {
            auto db = jet::Database::Create(fresh, password);
            auto& process = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
            for (const Entry& e : source.entries)
                process.Append({encipher(e.name), encipher(e.description), e.virus});
            db->CreateTable(L"Version", {{L"Version", 50}}).Append({source.version});
            db->Flush();
        }
        // Read it back before it replaces anything.
        jet::OpenOptions check;
        check.readOnly = true;
        check.password = password;
        auto db = jet::Database::Open(fresh, check);
        if (db->OpenTable(L"Process").LiveRowCount() != source.entries.size())
            throw std::runtime_error("the written file does not read back");
    });
}

namespace {

// A file at the user file's place is theirs when it holds the table.
void CheckUsersFile(const std::wstring& path) {
    jet::OpenOptions check;
    check.readOnly = true;
    auto db = jet::Database::Open(path, check);
    auto& t = db->OpenTable(L"Process");
    for (const wchar_t* field : {L"ProcessName", L"Description", L"Virus"})
        if (t.ColumnIndex(field) < 0) throw jet::Error(jet::err::ItemNotFound, std::wstring(L"no field ") + field);
}

void MakeUserFile(const std::wstring& fresh) {
    auto db = jet::Database::Create(fresh);
    db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
    db->Flush();
}

}  // namespace

bool EnsureUserFile(const std::wstring& path) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(path), ec) && BuildBeside(path, false, MakeUserFile))
        return true;
    // There before, or come while ours was made (or unseen by the check): the
    // same test either way.
    CheckUsersFile(path);
    return false;
}

}  // namespace knowledge

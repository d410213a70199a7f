#pragma once
// The maker's knowledge base from its plain source (data/knowledge.txt) to
// the Jet files the program reads: "db.mdb", enciphered and with a password,
// and an empty "userdb.mdb".  Portable: no <windows.h>.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace knowledge {

struct Entry {
    std::wstring name;
    std::wstring description;
    std::wstring virus;  // "Y" dangerous, "N" known and harmless
};

struct Source {
    std::wstring version;  // "2008-05-09"
    std::vector<Entry> entries;
};

// A source that cannot be used; what() lists every bad line (UTF-8).
class SourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Lines: "#" comments, blank lines, one "@Version<TAB>yyyy-mm-dd", and
// records "name<TAB>description<TAB>Y|N".  Names are unique without regard
// to case (the program's lookups ignore case) and fit a text field once
// enciphered.
Source ParseSource(const std::string& utf8);
Source ReadSource(const std::wstring& path);

using Cipher = std::function<std::wstring(const std::wstring&)>;

// Writes the maker's file: table Process (names and descriptions enciphered)
// and table Version.  Written beside `path` first and moved over it only when
// complete, so a failure leaves any earlier file untouched.
void WriteMakerFile(const std::wstring& path, const Source& source, const Cipher& encipher,
                    const std::wstring& password);

// Creates the empty user file (table Process, no password), beside `path`
// first like the maker's file, and moves it only where nothing is.  A file
// already there, or one that comes there meanwhile, that holds the table is
// the user's and is kept (returns false); any other file there is an error,
// never overwritten.
bool EnsureUserFile(const std::wstring& path);

// Tests only: called with the made file's name just before it is moved into
// place, to put something in its way.
extern std::function<void(const std::wstring& fresh)> g_beforeMove;

}  // namespace knowledge

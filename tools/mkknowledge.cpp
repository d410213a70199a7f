// Builds the knowledge files next to the program:
//   mkknowledge <source> <folder> <password> <key>
// writes <folder>/db.mdb from the source (names and descriptions enciphered
// with the key, the file protected by the password) and, when it is not there
// yet, an empty <folder>/userdb.mdb.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/jet/Jet.h"
#include "platform/vb/VbError.h"
#include "sysaccess/modEnDeCryption.h"
#include "tools/KnowledgeFiles.h"

namespace {

int Run(const std::vector<std::wstring>& args) {
    if (args.size() != 4) {
        std::fputs("usage: mkknowledge <source> <folder> <password> <key>\n", stderr);
        return 2;
    }
    const std::wstring& key = args[3];
    std::filesystem::path folder(args[1]);
    try {
        knowledge::Source source = knowledge::ReadSource(args[0]);
        knowledge::WriteMakerFile((folder / L"db.mdb").wstring(), source,
                                  [&](const std::wstring& text) { return modEnDeCryption::Encrypt(text, key); },
                                  args[2]);
        std::size_t dangerous = 0;
        for (const auto& e : source.entries) dangerous += e.virus == L"Y";
        std::printf("db.mdb: %zu entries (%zu dangerous), version %s\n", source.entries.size(), dangerous,
                    jet::ToUtf8(source.version).c_str());
        bool created = knowledge::EnsureUserFile((folder / L"userdb.mdb").wstring());
        std::printf("userdb.mdb: %s\n", created ? "created" : "kept (it holds the user's entries)");
        // The build compares this file's time with the tool's.
        std::filesystem::last_write_time(folder / L"userdb.mdb", std::filesystem::file_time_type::clock::now());
        return 0;
    } catch (const knowledge::SourceError& e) {
        std::fprintf(stderr, "mkknowledge: %s: bad source\n%s", jet::ToUtf8(args[0]).c_str(), e.what());
    } catch (const jet::Error& e) {
        std::fprintf(stderr, "mkknowledge: error %ld: %s\n", e.Number(), jet::ToUtf8(e.Description()).c_str());
    } catch (const vb::Error& e) {
        std::fprintf(stderr, "mkknowledge: the key cannot encipher (error %ld)\n", e.Number());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkknowledge: %s\n", e.what());
    }
    return 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(std::vector<std::wstring>(argv + 1, argv + argc)); }
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(jet::FromUtf8(argv[i]));
    return Run(args);
}
#endif

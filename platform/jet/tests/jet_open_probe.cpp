// The second process of the exclusive-open tests.  Arguments come in pairs,
// a file and the modes to try on it (x exclusive, w read-write, r shared
// read-only); the attempts are numbered in order, and the exit code has bit
// i set when attempt i found the file in use, and 128 for any other error.
#include <string>
#include <vector>

#include "platform/jet/Jet.h"

namespace {
int Probe(const std::vector<std::wstring>& args) {
    int result = 0, attempt = 0;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        for (wchar_t mode : args[i + 1]) {
            jet::OpenOptions options;
            options.exclusive = mode == L'x';
            options.readOnly = mode == L'r';
            try {
                auto db = jet::Database::Open(args[i], options);
            } catch (const jet::Error& e) {
                result |= e.Number() == jet::err::FileInUse ? 1 << attempt : 128;
            }
            ++attempt;
        }
    }
    return attempt > 7 ? 128 : result;
}
}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Probe(std::vector<std::wstring>(argv + 1, argv + argc)); }
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(jet::FromUtf8(argv[i]));
    return Probe(args);
}
#endif

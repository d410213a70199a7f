// The download class on Winsock window notifications against the real peers
// (run_with_peers.sh starts them; this program runs under Wine, where the
// peers' files are seen through drive Z:).
#include <cstdio>

#include "platform/vb/Runtime.h"
#include "tests/helpers/TestSupport.h"
#include "update/clsDownload.h"
#include "update/modDownload.h"
#include "update/tests/peers/PeerCases.h"

namespace {

class WinHarness : public PeerHarness {
public:
    WinHarness() {
        std::wstring description;
        modDownload::StartWinsock(description);
    }
    std::shared_ptr<DownloadEngine> Make() override { return clsDownload::Create(); }
    bool Pump(const std::function<bool()>& pred, int ms) override {
        return testsupport::PumpUntil(pred, static_cast<DWORD>(ms));
    }
    std::wstring LocalPath(const std::string& unixPath) override {
        std::wstring p = L"Z:" + peers::Widen(unixPath);
        for (auto& c : p)
            if (c == L'/') c = L'\\';
        return p;
    }
    bool ReadAll(const std::wstring& path, std::string& bytes) override {
        bytes.clear();
        FILE* f = _wfopen(path.c_str(), L"rb");
        if (!f) return false;
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
        fclose(f);
        return true;
    }
    void WriteAll(const std::wstring& path, const std::string& bytes) override {
        FILE* f = _wfopen(path.c_str(), L"wb");
        if (!f) return;
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
};

}  // namespace

PeerHarness& Harness() {
    static WinHarness h;
    return h;
}

// Throughput of the download class: one GET of a large file on loopback.
//   bench_download <url> <output file> [packet size]
// Prints the bytes, seconds and MB/s.  The Windows build drives clsDownload
// through its hidden window's message loop; the host build drives the same
// engine on the test poll loop.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include "platform/vb/Runtime.h"
#include "update/clsDownload.h"
#include "update/modDownload.h"
#else
#include "update/tests/host/PosixDownloadPlatform.h"
#endif

namespace {
struct Events : DownloadEvents {
    bool done = false;
    long why = -1;
    void Disconnected(long&) override { done = true; }
    void DownloadFailed(long& w, long&) override {
        why = w;
        done = true;
    }
};
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_download <url> <output file> [packet size]\n");
        return 2;
    }
    std::string url = argv[1], out = argv[2];
    long packet = argc > 3 ? std::atol(argv[3]) : 65536;
    Events ev;
#ifdef _WIN32
    std::wstring description;
    modDownload::StartWinsock(description);
    auto d = clsDownload::Create();
#else
    PollLoop loop;
    auto d = MakeHostDownload(loop, "/tmp");
#endif
    d->SetEvents(&ev);
    d->UseTempFile(false);
    d->Filename(std::wstring(out.begin(), out.end()));
    d->PacketSize(packet);
    auto start = std::chrono::steady_clock::now();
    d->FetchURLString(std::wstring(url.begin(), url.end()));
#ifdef _WIN32
    MSG msg;
    while (!ev.done && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
#else
    loop.RunUntil([&] { return ev.done; }, 600000);
#endif
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ev.why >= 0 || !ev.done) {
        std::fprintf(stderr, "download failed: %ld\n", ev.why);
        return 1;
    }
    double bytes = d->ReceivedBytes();
    std::printf("%.0f bytes %.3f s %.1f MB/s\n", bytes, secs, bytes / secs / 1e6);
    return 0;
}

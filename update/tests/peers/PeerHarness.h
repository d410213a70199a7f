#pragma once
// What the download tests against real peers need from the side they run on:
// the program's Winsock class under Wine, or the engine on a poll loop in the
// host build.  run_with_peers.sh starts the peers and exports their ports.
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "update/DownloadEngine.h"

class PeerHarness {
public:
    virtual ~PeerHarness() = default;
    virtual std::shared_ptr<DownloadEngine> Make() = 0;
    virtual bool Pump(const std::function<bool()>& pred, int ms) = 0;
    // A path of the peers' (Unix) file system in this side's own form.
    virtual std::wstring LocalPath(const std::string& unixPath) = 0;
    virtual bool ReadAll(const std::wstring& path, std::string& bytes) = 0;
    virtual void WriteAll(const std::wstring& path, const std::string& bytes) = 0;
    // A path whose writes fail after a successful open; "" when there is none.
    virtual std::wstring FailingWritePath() { return L""; }
};

PeerHarness& Harness();

namespace peers {

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

inline bool PeersRunning() { return !Env("MX_NGINX_PORT").empty(); }

inline std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline std::wstring Url(const char* portVar, const std::string& path) {
    return Widen("http://127.0.0.1:" + Env(portVar) + path);
}

inline long Port(const char* portVar) { return std::atol(Env(portVar).c_str()); }

inline std::string Served(const std::string& name) {
    std::string bytes;
    Harness().ReadAll(Harness().LocalPath(Env("MX_PEER_ROOT") + "/" + name), bytes);
    return bytes;
}

inline std::wstring TempFile(const std::string& name) {
    static int n = 0;
    return Harness().LocalPath(Env("MX_TEMP") + "/" + std::to_string(++n) + "-" + name);
}

inline std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    Harness().ReadAll(path, bytes);
    return bytes;
}

// Records every event; the fetch is over at the first end event.
struct Recorder : DownloadEvents {
    std::vector<std::string> seq;
    std::vector<long> counts;
    long failCode = -1;
    int ends = 0;
    std::wstring moved;
    std::function<void(const std::string&)> onEvent;

    void Note(const std::string& what) {
        seq.push_back(what);
        if (onEvent) onEvent(what);
    }
    void Connected(long&) override { Note("C"); }
    void QuerySent(long&) override { Note("Q"); }
    void BytesReceived(long& n, long&) override {
        counts.push_back(n);
        if (onEvent) onEvent("B");
    }
    void Disconnected(long&) override {
        ++ends;
        Note("D");
    }
    void DownloadFailed(long& why, long&) override {
        ++ends;
        failCode = why;
        Note("F" + std::to_string(why));
    }
    void ObjectMoved(std::wstring& url, long&) override {
        ++ends;
        moved = url;
        Note("M");
    }
    std::string Joined() const {
        std::string s;
        for (auto& e : seq) s += e + " ";
        return s;
    }
};

struct Fetch {
    std::shared_ptr<DownloadEngine> d;
    Recorder rec;
    std::wstring file;
};

// A download into a fresh file, set up as the update window sets it up.
inline std::unique_ptr<Fetch> NewFetch(const std::string& fileName = "out.bin") {
    auto f = std::make_unique<Fetch>();
    f->d = Harness().Make();
    f->d->SetEvents(&f->rec);
    f->file = TempFile(fileName);
    f->d->Filename(f->file);
    f->d->UseTempFile(false);
    f->d->PacketSize(10000);
    return f;
}

// Runs until the fetch has ended, then a little longer so that a second end
// event would be seen.
inline bool Finish(Fetch& f, int ms = 30000) {
    bool done = Harness().Pump([&] { return f.rec.ends > 0; }, ms);
    Harness().Pump([] { return false; }, 100);
    return done;
}

}  // namespace peers

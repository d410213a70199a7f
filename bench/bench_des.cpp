// Throughput of clsDES::EncryptByte (and DecryptByte) on 64 MiB against
// openssl's DES-CBC on the same machine in the same run:
//   bench_des [megabytes] [openssl]
// MB/s here are 10^6 bytes per second, as openssl speed counts them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "des/clsDES.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Best of three runs of `body`, in seconds.
template <class F>
double Best(F&& body) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        body();
        best = std::min(best, Seconds(Clock::now() - start));
    }
    return best;
}

#ifndef _WIN32
std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// openssl speed's figure for its largest block size, in MB/s.
double OpenSslSpeed(const std::string& openssl) {
    const std::string out = Capture(openssl + " speed -seconds 3 -provider legacy -provider default -evp des-cbc 2>/dev/null");
    std::istringstream lines(out);
    std::string line, last;
    while (std::getline(lines, line))
        if (line.rfind("DES-CBC", 0) == 0 || line.rfind("des-cbc", 0) == 0) last = line;
    if (last.empty()) return 0;
    const auto pos = last.find_last_of(' ', last.find_last_not_of(" k"));
    return std::atof(last.c_str() + pos + 1) / 1000.0;  // thousands of bytes per second
}

// openssl enc over the same data through files: process start and file I/O included.
double OpenSslEnc(const std::string& openssl, const std::vector<std::uint8_t>& data) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto in = dir / "bench_des.in", out = dir / "bench_des.out";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    const std::string command = openssl + " enc -des-cbc -provider legacy -provider default -K 4B65793132333435"
                                          " -iv 0000000000000000 -nopad -in " + in.string() + " -out " + out.string();
    const double seconds = Best([&] {
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "openssl enc failed\n");
    });
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return data.size() / seconds / 1e6;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const std::string openssl = argc > 2 ? argv[2] : "openssl";
    const std::size_t size = megabytes << 20;

    std::vector<std::uint8_t> data(size);
    std::mt19937 rng(1);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());

    clsDES des;
    des.Key(L"Key12345");
    std::vector<std::uint8_t> work;
    const double encryptSeconds = Best([&] {
        work = data;
        des.EncryptByte(work);
    });
    std::vector<std::uint8_t> cipher = work;
    const double decryptSeconds = Best([&] {
        work = cipher;
        des.DecryptByte(work);
    });
    if (work != data) {
        std::fprintf(stderr, "round trip failed\n");
        return 1;
    }
    const double encrypt = data.size() / encryptSeconds / 1e6;
    const double decrypt = data.size() / decryptSeconds / 1e6;
    std::printf("clsDES EncryptByte  %zu MiB: %8.1f MB/s\n", megabytes, encrypt);
    std::printf("clsDES DecryptByte  %zu MiB: %8.1f MB/s\n", megabytes, decrypt);

#ifndef _WIN32
    const double speed = OpenSslSpeed(openssl);
    if (speed > 0) {
        std::printf("openssl speed des-cbc (16 KiB blocks): %8.1f MB/s\n", speed);
        std::printf("ratio EncryptByte / openssl speed:      %8.2f\n", encrypt / speed);
    } else {
        std::printf("openssl speed: not available\n");
    }
    const double enc = OpenSslEnc(openssl, data);
    std::printf("openssl enc -des-cbc %zu MiB (files):   %8.1f MB/s\n", megabytes, enc);
    std::printf("ratio EncryptByte / openssl enc:        %8.2f\n", encrypt / enc);
#endif
    return 0;
}

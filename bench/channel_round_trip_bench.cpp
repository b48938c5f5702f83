// Round trip of an acknowledge-only record on the notification channel: a
// client sends the frame and waits for the 4-byte reply, again and again on one
// connection. Measured twice over the same transport: once served by the
// notifier's worker (frame reader, record decoding, dispatch with its log line,
// reply), once by a raw echo that reads the frame and answers 1 without looking
// at it. Prints both times and their ratio.
//
//   channel_round_trip_bench [ROUND_TRIPS]
//   channel_round_trip_bench --echo PATH   the raw echo alone, as a server
//                                          process on the channel PATH (in a
//                                          private folder) until killed
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "notify/frame_reader.h"
#include "notify/notification_loop.h"
#include "channel/pipe_server.h"
#include "log/logger.h"
#include "notify/dispatch.h"
#include "notify/record.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The service's end of the channel, over the platform's plain calls.
class BenchClient {
public:
    explicit BenchClient(const std::string& name) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
#if defined(_WIN32)
        const std::wstring wide(name.begin(), name.end());
        while (m_pipe == INVALID_HANDLE_VALUE && Clock::now() < deadline) {
            m_pipe = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            if (m_pipe == INVALID_HANDLE_VALUE) {
                Sleep(10);
            }
        }
#else
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        name.copy(address.sun_path, sizeof address.sun_path - 1);
        while (m_fd < 0 && Clock::now() < deadline) {
            m_fd = socket(AF_UNIX, SOCK_STREAM, 0);
            if (connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                close(m_fd);
                m_fd = -1;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
#endif
    }
    ~BenchClient() {
#if defined(_WIN32)
        if (m_pipe != INVALID_HANDLE_VALUE) {
            CloseHandle(m_pipe);
        }
#else
        if (m_fd >= 0) {
            close(m_fd);
        }
#endif
    }
    bool Connected() const {
#if defined(_WIN32)
        return m_pipe != INVALID_HANDLE_VALUE;
#else
        return m_fd >= 0;
#endif
    }
    bool Write(const std::string& bytes) {
#if defined(_WIN32)
        DWORD wrote = 0;
        return WriteFile(m_pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
               wrote == bytes.size();
#else
        return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
#endif
    }
    bool ReadReply(int32_t* reply) {
        unsigned char bytes[4];
        size_t done = 0;
        while (done < sizeof bytes) {
#if defined(_WIN32)
            DWORD got = 0;
            if (!ReadFile(m_pipe, bytes + done, static_cast<DWORD>(sizeof bytes - done), &got,
                          nullptr) ||
                got == 0) {
                return false;
            }
#else
            const ssize_t got = recv(m_fd, bytes + done, sizeof bytes - done, 0);
            if (got <= 0) {
                return false;
            }
#endif
            done += static_cast<size_t>(got);
        }
        *reply = static_cast<int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                      (static_cast<uint32_t>(bytes[3]) << 24));
        return true;
    }

private:
#if defined(_WIN32)
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
#else
    int m_fd = -1;
#endif
};

// The dispatch's platform side for acknowledge-only records: only the log
// line is written; nothing else is reached.
class LogOnlyView : public NotificationView {
public:
    explicit LogOnlyView(CLogger* logger) : m_logger(logger) {}
    void Log(int32_t level, const std::string& line) override {
        m_logger->LogLine(level, line);
    }
    void ShowBalloon(std::u16string_view, std::u16string_view, std::optional<uint32_t>) override {}
    void Pause(uint32_t) override {}
    void ShowErrorBox(std::u16string_view, std::u16string_view) override {}
    void CheckForUpdateSilently() override {}
    std::string GetProcessName(int32_t) override { return std::string(); }
    int64_t Now() override { return 0; }

private:
    CLogger* m_logger;
};

// Reads frames and answers each with 1, without decoding or dispatching.
void RawEcho(CPipeServer& server, const std::atomic<bool>& stop) {
    unsigned char body[kMaxFrameBodyLength];
    while (!stop) {
        if (server.Connect() != TRANSFER_OK) {
            continue;
        }
        unsigned char word[4];
        if (ReadExactly(server, word, 4, kClientWaitLimit) != TRANSFER_OK) {
            server.Disconnect();
            continue;
        }
        const uint32_t length =
            word[0] | (word[1] << 8) | (word[2] << 16) | (static_cast<uint32_t>(word[3]) << 24);
        if (length == 0 || length > sizeof body ||
            ReadExactly(server, body, length, kClientWaitLimit) != TRANSFER_OK ||
            WriteReplyWord(server, 1, kClientWaitLimit) != TRANSFER_OK) {
            server.Disconnect();
        }
    }
}

std::string ChannelName(const char* tag) {
#if defined(_WIN32)
    return "\\\\.\\pipe\\orlivan-bench-" + std::to_string(GetCurrentProcessId()) + "-" + tag;
#else
    // The channel lives in a folder only this user may enter, as the server asks.
    static const std::string folder = [] {
        char pattern[] = "/tmp/orlivan-bench-XXXXXX";
        return mkdtemp(pattern) != nullptr ? std::string(pattern) : std::string("/tmp");
    }();
    return folder + "/" + tag;
#endif
}

std::string TempLogPath() {
#if defined(_WIN32)
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    std::string path;
    for (const wchar_t* p = dir; *p != 0; ++p) {
        path.push_back(static_cast<char>(*p));
    }
    return path + "orlivan-bench-" + std::to_string(GetCurrentProcessId()) + ".log";
#else
    return "/tmp/orlivan-bench-" + std::to_string(getpid()) + ".log";
#endif
}

// Seconds for `count` round trips over a fresh channel served by `serve`.
template <typename Serve>
double Measure(const char* tag, int count, Serve serve) {
    CPipeServer server(ChannelName(tag));
    if (server.Create() != 1) {
        std::fprintf(stderr, "cannot create the channel %s\n", server.Name().c_str());
        std::exit(1);
    }
    std::atomic<bool> stop{false};
    std::thread worker([&] { serve(server, stop); });

    const std::string frame = std::string("\x04\0\0\0", 4) +
                              EncodeNotificationRecord({NOTIFY_ACK_ONLY, std::string(), 0});
    double seconds = -1;
    {
        BenchClient client(server.Name());
        if (!client.Connected()) {
            std::fprintf(stderr, "cannot connect to %s\n", server.Name().c_str());
            std::exit(1);
        }
        const int warmUp = count / 10 + 1;
        Clock::time_point start;
        for (int i = 0; i < warmUp + count; ++i) {
            if (i == warmUp) {
                start = Clock::now();
            }
            int32_t reply = 0;
            if (!client.Write(frame) || !client.ReadReply(&reply) || reply != 1) {
                std::fprintf(stderr, "round trip %d failed\n", i);
                std::exit(1);
            }
        }
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    stop = true;
    server.Shutdown();
    worker.join();
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--echo") {
        CPipeServer server(argv[2]);
        if (server.Create() != 1) {
            std::fprintf(stderr, "cannot create the channel %s\n", argv[2]);
            return 1;
        }
        const std::atomic<bool> never{false};
        RawEcho(server, never);
        return 0;
    }
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: channel_round_trip_bench [ROUND_TRIPS]\n");
        return 2;
    }
    const std::string logPath = TempLogPath();
    CLogger logger(logPath);
    LogOnlyView view(&logger);
    NotificationDispatchState state;

    auto serveNotifier = [&](CPipeServer& server, const std::atomic<bool>& stop) {
        RunNotificationLoop(
            server,
            [&](const NotificationRecord& record) {
                return DispatchNotification(record, view, state, nullptr);
            },
            &logger, kClientWaitLimit, &stop);
    };
    // The machine is shared: the two are measured in alternation, several
    // times, and the median of each is compared.
    std::vector<double> raw;
    std::vector<double> notifier;
    for (int run = 0; run < kRuns; ++run) {
        raw.push_back(Measure("echo", count, RawEcho));
        notifier.push_back(Measure("notifier", count, serveNotifier));
    }
    std::remove(logPath.c_str());
#if !defined(_WIN32)
    std::remove((ChannelName("echo") + ".lock").c_str());
    std::remove((ChannelName("notifier") + ".lock").c_str());
    const std::string folder = ChannelName("");
    rmdir(folder.substr(0, folder.size() - 1).c_str());
#endif

    const double rawUs = Median(raw) * 1e6 / count;
    const double notifierUs = Median(notifier) * 1e6 / count;
    std::printf("round trips:  %d per run, %d runs (type 2 record, 4-byte reply, one connection)\n",
                count, kRuns);
    std::printf("raw echo:     %.2f us per round trip (median; best %.2f)\n", rawUs,
                *std::min_element(raw.begin(), raw.end()) * 1e6 / count);
    std::printf("notifier:     %.2f us per round trip (median; best %.2f), log line included\n",
                notifierUs, *std::min_element(notifier.begin(), notifier.end()) * 1e6 / count);
    std::printf("ratio:        %.2f (notifier / raw echo, medians)\n", notifierUs / rawUs);
    return 0;
}

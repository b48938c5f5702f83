// Round trips of an acknowledge-only record over a Unix domain socket: the
// frame out, the 4-byte reply back, again and again on one connection.
//
//   socket_round_trip client PATH ROUND_TRIPS   against a running server (the
//                                               notifier, or the echo below);
//                                               prints the median time per
//                                               round trip of five runs, in
//                                               microseconds
//   socket_round_trip echo PATH                 a raw echo server until killed:
//                                               reads each frame and answers 1
//                                               without looking at it
// Both servers are long-running processes of their own, so the client meets
// them alike.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const unsigned char kFrame[8] = {4, 0, 0, 0, 2, 0, 0, 0};  // length 4, type 2

bool Exactly(int fd, void* buffer, size_t count, bool write) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write ? send(fd, bytes + done, count - done, MSG_NOSIGNAL)
                                : recv(fd, bytes + done, count - done, 0);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// Microseconds per round trip, or a negative value on failure.
double Run(const std::string& path, int count) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = Address(path);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        unsigned char reply[4];
        if (!Exactly(fd, const_cast<unsigned char*>(kFrame), sizeof kFrame, true) ||
            !Exactly(fd, reply, sizeof reply, false)) {
            close(fd);
            return -1;
        }
    }
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start;
    close(fd);
    return spent.count() / count;
}

void Echo(int listener) {
    for (;;) {
        const int client = accept(listener, nullptr, nullptr);
        unsigned char frame[8];
        const unsigned char reply[4] = {1, 0, 0, 0};
        while (Exactly(client, frame, sizeof frame, false) &&
               Exactly(client, const_cast<unsigned char*>(reply), sizeof reply, true)) {
        }
        close(client);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "echo" && argc == 3) {
        const std::string path = argv[2];
        const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = Address(path);
        unlink(path.c_str());
        if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener, 8) != 0) {
            std::perror("echo socket");
            return 1;
        }
        Echo(listener);
        return 0;
    }
    const int count = mode == "client" && argc == 4 ? std::atoi(argv[3]) : 0;
    if (count <= 0) {
        std::fprintf(stderr, "usage: socket_round_trip client PATH N | echo PATH\n");
        return 1;
    }
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        const double us = Run(argv[2], count);
        if (us < 0) {
            std::fprintf(stderr, "round trips to %s failed\n", argv[2]);
            return 1;
        }
        runs.push_back(us);
    }
    std::sort(runs.begin(), runs.end());
    std::printf("%.2f\n", runs[2]);
    return 0;
}

#pragma once
// A small blocking DoIP tester over loopback for the tests and the stress command: plain
// sockets, every wait bounded by a receive timeout.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace doip_test {

using Bytes = std::vector<std::uint8_t>;

struct Message {
    std::uint8_t version = 0;
    std::uint16_t type = 0;
    Bytes payload;
};

inline Bytes header(std::uint8_t version, std::uint16_t type, std::uint32_t length) {
    return {version,
            static_cast<std::uint8_t>(~version),
            static_cast<std::uint8_t>(type >> 8),
            static_cast<std::uint8_t>(type),
            static_cast<std::uint8_t>(length >> 24),
            static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length)};
}

inline Bytes message(std::uint16_t type, const Bytes& payload, std::uint8_t version = 0x02) {
    // Sized once: an insert's growth path trips GCC's -Warray-bounds at -O3.
    const Bytes head = header(version, type, static_cast<std::uint32_t>(payload.size()));
    Bytes out(head.size() + payload.size());
    std::copy(head.begin(), head.end(), out.begin());
    std::copy(payload.begin(), payload.end(),
              out.begin() + static_cast<std::ptrdiff_t>(head.size()));
    return out;
}

inline Bytes address_pair(std::uint16_t source, std::uint16_t target) {
    return {static_cast<std::uint8_t>(source >> 8), static_cast<std::uint8_t>(source),
            static_cast<std::uint8_t>(target >> 8), static_cast<std::uint8_t>(target)};
}

inline Bytes activation(std::uint16_t source, std::uint8_t type = 0x00) {
    Bytes payload = address_pair(source, 0);
    payload.resize(2);
    payload.push_back(type);
    payload.insert(payload.end(), 4, 0x00);
    return message(0x0005, payload);
}

inline Bytes diagnostic(std::uint16_t source, std::uint16_t target, const Bytes& uds) {
    Bytes payload = address_pair(source, target);
    payload.insert(payload.end(), uds.begin(), uds.end());
    return message(0x8001, payload);
}

inline sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

class Client {
  public:
    explicit Client(std::uint16_t port, int timeout_ms = 5000) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const sockaddr_in address = loopback(port);
        connected_ =
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    bool send(const Bytes& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // The next message; nullopt on timeout or when the entity closed the socket.
    std::optional<Message> receive() {
        Bytes head(8);
        if (!read_exactly(head)) {
            return std::nullopt;
        }
        Message m;
        m.version = head[0];
        m.type = static_cast<std::uint16_t>(head[2] << 8 | head[3]);
        const std::uint32_t length = static_cast<std::uint32_t>(head[4]) << 24 |
                                     static_cast<std::uint32_t>(head[5]) << 16 |
                                     static_cast<std::uint32_t>(head[6]) << 8 | head[7];
        if (length > 1'000'000) {
            return std::nullopt;
        }
        m.payload.resize(length);
        if (!read_exactly(m.payload)) {
            return std::nullopt;
        }
        return m;
    }

    // True when the entity closed the socket (end of stream) within the timeout.
    bool closed_by_peer() {
        std::uint8_t byte = 0;
        while (true) {
            const ssize_t got = ::recv(fd_, &byte, 1, 0);
            if (got == 0) {
                return true;
            }
            if (got < 0) {
                return errno == ECONNRESET;
            }
        }
    }

    // Routing activation; the response code, or -1 without a response.
    int activate(std::uint16_t source, std::uint8_t type = 0x00) {
        if (!send(activation(source, type))) {
            return -1;
        }
        const auto reply = receive();
        if (!reply || reply->type != 0x0006 || reply->payload.size() < 5) {
            return -1;
        }
        return reply->payload[4];
    }

    // Sends one UDS request and returns the final UDS answer (pending answers are counted
    // in `pending`); nullopt when the acknowledgement or the answer does not come.
    std::optional<Bytes> request(std::uint16_t source, std::uint16_t target, const Bytes& uds,
                                 int* pending = nullptr) {
        if (!send(diagnostic(source, target, uds))) {
            return std::nullopt;
        }
        const auto ack = receive();
        if (!ack || ack->type != 0x8002) {
            return std::nullopt;
        }
        while (true) {
            const auto answer = receive();
            if (!answer || answer->type != 0x8001 || answer->payload.size() < 5) {
                return std::nullopt;
            }
            Bytes bytes(answer->payload.begin() + 4, answer->payload.end());
            if (bytes.size() == 3 && bytes[0] == 0x7F && bytes[2] == 0x78) {
                if (pending != nullptr) {
                    ++*pending;
                }
                continue;
            }
            return bytes;
        }
    }

  private:
    bool read_exactly(Bytes& buffer) {
        std::size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t got = ::recv(fd_, buffer.data() + done, buffer.size() - done, 0);
            if (got <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
};

// The port in dmsim's "dmsim: DoIP entity 1000 listening on 127.0.0.1:PORT"; 0 without one.
inline std::uint16_t port_in(const std::string& line) {
    const auto colon = line.rfind(':');
    return colon == std::string::npos
               ? 0
               : static_cast<std::uint16_t>(std::strtoul(line.c_str() + colon + 1, nullptr, 10));
}

}  // namespace doip_test

#pragma once
// The network as the update client uses it: name lookup and TCP streams (Winsock), and the
// text HTTP GET that stands in for WinINet.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::platform {

// A connected TCP socket; closesocket when destroyed.
class TcpSocket {
public:
    virtual ~TcpSocket() = default;
    // send: bytes sent, or -1 (SOCKET_ERROR).
    virtual int Send(const void* data, int size) = 0;
    // recv: bytes received, 0 when the peer closed, -1 on error.
    virtual int Recv(void* buffer, int size) = 0;
};

struct HttpResponse {
    bool ok = false;          // the request was sent and a response read
    uint32_t error = 0;       // WinINet-style error when it was not
    uint32_t statusCode = 0;  // HTTP status
    std::vector<uint8_t> body;
};

class Network {
public:
    virtual ~Network() = default;
    // gethostbyname: the IPv4 addresses of a host (network byte order), empty when unknown.
    virtual std::vector<uint32_t> ResolveHost(std::string_view host) = 0;
    // socket + connect; null when the connection fails.
    virtual std::unique_ptr<TcpSocket> Connect(uint32_t address, uint16_t port) = 0;
    // InternetOpenW .. InternetReadFile: GET `path` from host:port with the given agent.
    virtual HttpResponse HttpGet(std::u16string_view agent, std::u16string_view host,
                                 uint16_t port, std::u16string_view path) = 0;
};

}  // namespace tarvex::platform

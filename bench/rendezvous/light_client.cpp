#include "light_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace tavoro::bench {
namespace {

// A final text frame with the all-zero mask.
std::string clientFrame(const std::string& text)
{
    std::string frame;
    frame += static_cast<char>(0x81);
    if (text.size() < 126) {
        frame += static_cast<char>(0x80 | text.size());
    } else {
        frame += static_cast<char>(0x80 | 126);
        frame += static_cast<char>(text.size() >> 8);
        frame += static_cast<char>(text.size() & 0xFF);
    }
    frame.append(4, '\0');
    return frame + text;
}

} // namespace

LightClient::Context LightClient::makeContext()
{
    Context context(SSL_CTX_new(TLS_client_method()));
    if (context) {
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_read_ahead(context.get(), 1);
    }
    return context;
}

std::unique_ptr<LightClient> LightClient::connect(SSL_CTX* context, std::uint16_t port, const std::string& deviceId)
{
    core::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd.get() < 0 || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return nullptr;
    }
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(context));
    if (!ssl || SSL_set_fd(ssl.get(), fd.get()) != 1 || SSL_connect(ssl.get()) != 1) {
        return nullptr;
    }
    std::unique_ptr<LightClient> client(new LightClient(std::move(fd), std::move(ssl)));
    const std::string upgrade = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!client->writeAll(upgrade) || !client->receiveUntil("\r\n\r\n")) {
        return nullptr;
    }
    client->pending_.erase(0, client->pending_.find("\r\n\r\n") + 4);
    const std::string hello = R"({"type":"hello","token":"qxm","device_id":")" + deviceId + "\"}";
    const std::string probe = R"({"type":"hello_probe","to":")" + deviceId + "\"}";
    if (!client->writeAll(clientFrame(hello) + clientFrame(probe)) || !client->receiveUntil("hello_probe")) {
        return nullptr;
    }
    client->pending_.clear();
    return client;
}

bool LightClient::sendRepeated(const std::string& text, int count)
{
    const std::string frame = clientFrame(text);
    std::string batch;
    batch.reserve(frame.size() * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        batch += frame;
    }
    return writeAll(batch);
}

bool LightClient::receive(int count)
{
    char buffer[16 * 1024];
    int received = takeFrames();
    while (received < count) {
        const int n = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
        received += takeFrames();
    }
    return true;
}

bool LightClient::writeAll(const std::string& bytes)
{
    return SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}

int LightClient::takeFrames()
{
    int frames = 0;
    std::size_t at = 0;
    while (pending_.size() - at >= 2) {
        const auto lengthByte = static_cast<std::uint8_t>(pending_[at + 1]) & 0x7F;
        std::size_t header = 2;
        std::size_t length = lengthByte;
        if (lengthByte == 126) {
            header = 4;
            if (pending_.size() - at < header) {
                break;
            }
            length = (static_cast<std::size_t>(static_cast<std::uint8_t>(pending_[at + 2])) << 8)
                | static_cast<std::uint8_t>(pending_[at + 3]);
        }
        if (lengthByte == 127 || pending_.size() - at < header + length) {
            break; // longer frames never come in this load
        }
        at += header + length;
        ++frames;
    }
    pending_.erase(0, at);
    return frames;
}

bool LightClient::receiveUntil(const std::string& marker)
{
    char buffer[4096];
    while (pending_.find(marker) == std::string::npos) {
        const int n = SSL_read(ssl_.get(), buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace tavoro::bench

#include "brennickd/client.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <thread>

#include "platform/platform.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

namespace {

// A service on every address is reached on the loopback one.
net::ip::address AddressOf(const Options& options, std::string* host)
{
    net::ip::address address = net::ip::make_address(options.address);
    if (address.is_unspecified())
        address = address.is_v6() ? net::ip::address(net::ip::address_v6::loopback())
                                  : net::ip::address(net::ip::address_v4::loopback());
    *host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    *host += ":" + std::to_string(options.port);
    return address;
}

}  // namespace

bool AskService(const Options& options, http::verb verb, const std::string& target, const std::string& body,
                const std::string& token, int* status, nlohmann::json* answer, std::string* message)
{
    std::string host;
    net::ip::address address = AddressOf(options, &host);
    net::io_context io;
    beast::tcp_stream stream(io);
    beast::error_code ec;
    // A service that was started a moment ago may not listen yet: it is
    // given kWaitSeconds to, and asked once it does.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitSeconds);
    for (;;) {
        stream.expires_after(std::chrono::seconds(30));
        stream.connect(net::ip::tcp::endpoint(address, options.port), ec);
        if (!ec || std::chrono::steady_clock::now() >= until) break;
        stream.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (ec) {
        *message = "brennickd does not answer on " + host + " after waiting " + std::to_string(kWaitSeconds) +
                   " seconds for it: " + ec.message() + " (is the service running? " +
                   (platform::kPathSeparator == '\\' ? "sc query brennickd" : "systemctl status brennickd") + ")";
        return false;
    }
    http::request<http::string_body> request{verb, target, 11};
    request.set(http::field::host, host);
    request.set(http::field::authorization, "Bearer " + token);
    request.set(http::field::content_type, "application/json");
    request.body() = body;
    request.prepare_payload();
    if (!ec) http::write(stream, request, ec);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    if (!ec) http::read(stream, buffer, response, ec);
    if (ec) {
        *message = "brennickd does not answer on " + host + ": " + ec.message() + " (is the service running?)";
        return false;
    }
    stream.socket().shutdown(net::ip::tcp::socket::shutdown_both, ec);
    *status = response.result_int();
    *answer = nlohmann::json::parse(response.body(), nullptr, false);
    return true;
}

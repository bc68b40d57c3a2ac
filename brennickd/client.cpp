#include "brennickd/client.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

bool AskService(const Options& options, http::verb verb, const std::string& target, const std::string& body,
                const std::string& token, int* status, nlohmann::json* answer, std::string* message)
{
    // A service on every address is reached on the loopback one.
    net::ip::address address = net::ip::make_address(options.address);
    if (address.is_unspecified())
        address = address.is_v6() ? net::ip::address(net::ip::address_v6::loopback())
                                  : net::ip::address(net::ip::address_v4::loopback());
    std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    host += ":" + std::to_string(options.port);
    net::io_context io;
    beast::tcp_stream stream(io);
    stream.expires_after(std::chrono::seconds(30));
    beast::error_code ec;
    stream.connect(net::ip::tcp::endpoint(address, options.port), ec);
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

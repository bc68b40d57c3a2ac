#include "brennickd/http_server.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr std::uint32_t kHeaderLimit = 8 * 1024;
constexpr std::uint64_t kBodyLimit = 16 * 1024;
constexpr std::size_t kFieldCountLimit = 64;

std::atomic<int> g_open{0};

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, const Options& options, PaymentService* service)
        : stream_(std::move(socket)), options_(options), service_(service)
    {
        ++g_open;
    }
    ~Session() { --g_open; }

    void Start()
    {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->Read(); });
    }

private:
    void Read()
    {
        parser_.emplace();
        parser_->header_limit(kHeaderLimit);
        parser_->body_limit(kBodyLimit);
        stream_.expires_after(std::chrono::seconds(options_.readTimeoutSeconds));
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
    }

    void Refuse(http::status status, const char* error)
    {
        // What was read of the headers gives the origin its CORS headers.
        Write(service_->Refusal(parser_->get(), status, error));
    }

    void OnRead(beast::error_code ec)
    {
        if (ec == http::error::body_limit) return Refuse(http::status::payload_too_large, "the body is over 16 KiB");
        if (ec == http::error::header_limit)
            return Refuse(http::status::request_header_fields_too_large, "the headers are over 8 KiB");
        if (ec) return Close();
        Request request = parser_->release();
        std::size_t fields = 0;
        for (auto it = request.begin(); it != request.end(); ++it) ++fields;
        if (fields > kFieldCountLimit)
            return Write(service_->Refusal(request, http::status::request_header_fields_too_large,
                                           "more than 64 header fields"));
        stream_.expires_never();   // a payment takes as long as it takes
        auto self = shared_from_this();
        service_->Handle(request, [self](Response response) {
            net::post(self->stream_.get_executor(),
                      [self, response = std::move(response)]() mutable { self->Write(std::move(response)); });
        });
    }

    void Write(Response response)
    {
        auto shared = std::make_shared<Response>(std::move(response));
        stream_.expires_after(std::chrono::seconds(options_.readTimeoutSeconds));
        http::async_write(stream_, *shared, [self = shared_from_this(), shared](beast::error_code ec, std::size_t) {
            if (ec || !shared->keep_alive()) return self->Close();
            self->Read();
        });
    }

    void Close()
    {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.socket().close(ignored);
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    const Options& options_;
    PaymentService* service_;
};

class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(net::io_context& io, const Options& options, PaymentService* service)
        : io_(io), acceptor_(net::make_strand(io)), options_(options), service_(service)
    {
    }

    bool Open(const tcp::endpoint& endpoint, std::string* message)
    {
        beast::error_code ec;
        acceptor_.open(endpoint.protocol(), ec);
        if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
        if (!ec) acceptor_.bind(endpoint, ec);
        if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
        if (ec) *message = "cannot listen on " + endpoint.address().to_string() + ":" +
                           std::to_string(endpoint.port()) + ": " + ec.message();
        return !ec;
    }

    tcp::endpoint Bound() const { return acceptor_.local_endpoint(); }

    void Accept()
    {
        acceptor_.async_accept(net::make_strand(io_), [self = shared_from_this()](beast::error_code ec,
                                                                                  tcp::socket socket) {
            if (!ec) {
                // Over the cap the connection is closed at once.
                if (g_open < self->options_.maxConnections)
                    std::make_shared<Session>(std::move(socket), self->options_, self->service_)->Start();
            }
            self->Accept();
        });
    }

private:
    net::io_context& io_;
    tcp::acceptor acceptor_;
    const Options& options_;
    PaymentService* service_;
};

}  // namespace

bool StartServer(net::io_context& io, const Options& options, PaymentService* service,
                 tcp::endpoint* bound, std::string* message)
{
    auto listener = std::make_shared<Listener>(io, options, service);
    if (!listener->Open(tcp::endpoint(net::ip::make_address(options.address), options.port), message))
        return false;
    *bound = listener->Bound();
    listener->Accept();
    return true;
}

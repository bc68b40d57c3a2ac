// HTTP/1.1 over TCP with Boost.Beast: limits on headers, body and time per
// connection, a cap on open connections; every request goes to the service.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "brennickd/options.h"
#include "brennickd/service.h"

// Starts accepting on the options' address; false with a message when the
// address cannot be taken. The bound endpoint (port 0 gives one) is filled.
bool StartServer(boost::asio::io_context& io, const Options& options, PaymentService* service,
                 boost::asio::ip::tcp::endpoint* bound, std::string* message);

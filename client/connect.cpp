#include "client/connect.h"

#include "support/byte_stream.h"

#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>

using namespace asio::experimental::awaitable_operators;

asio::awaitable<asio::error_code>
ConnectAny(asio::ip::tcp::socket& socket, const std::vector<asio::ip::tcp::endpoint>& vecEndpoints,
           std::chrono::steady_clock::time_point tDeadline, const std::atomic<bool>& bStop) {
    asio::steady_timer timer(socket.get_executor());
    asio::error_code ecLast = asio::error::host_not_found;
    for (const asio::ip::tcp::endpoint& endpoint : vecEndpoints) {
        if (bStop.load())
            co_return asio::error::operation_aborted;
        asio::error_code ec;
        if (socket.is_open())
            socket.close(ec);
        socket.open(endpoint.protocol(), ec);
        if (ec) {
            ecLast = ec;
            continue;
        }
        timer.expires_at(tDeadline);
        auto result =
            co_await (socket.async_connect(endpoint, kAwaitTuple) || timer.async_wait(kAwaitTuple));
        if (result.index() == 1)
            co_return asio::error::timed_out;
        ecLast = std::get<0>(std::get<0>(result));
        if (!ecLast)
            co_return ecLast;
        if (bStop.load())
            co_return asio::error::operation_aborted;
    }
    co_return ecLast;
}

// A client connect on the I/O core: each resolved address in turn until one connects,
// all of it within one deadline.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <vector>

// Connects socket to the first of vecEndpoints that takes it, (re)opening it for each
// address's family. Returns no error, the last address's error, timed_out once tDeadline
// passes, or operation_aborted once bStop is set (checked between tries; a stop cancels
// the socket to end a try under way).
asio::awaitable<asio::error_code>
ConnectAny(asio::ip::tcp::socket& socket, const std::vector<asio::ip::tcp::endpoint>& vecEndpoints,
           std::chrono::steady_clock::time_point tDeadline, const std::atomic<bool>& bStop);

// The byte stream of a connected Asio socket, and the address helpers every socket of
// the program shares: how a peer is written, which peers are this host, how a listen
// address is read.
#pragma once

#include "support/byte_stream.h"

#include <asio/ip/tcp.hpp>

#include <string>
#include <vector>

class CSocketStream final : public CByteStream {
public:
    // Puts the socket in non-blocking mode, for the look without waiting.
    explicit CSocketStream(asio::ip::tcp::socket& socket);
    asio::awaitable<int> Send(const void* pData, size_t nLen) override;
    asio::awaitable<int> Recv(void* pData, size_t nLen) override;
    int PollReadableNow() override;
    void PrepareBulkSend() override;
    bool PeerIsThisHost() const override;
    int LocalPort() const override;
    // Ends the session from outside (a stop or the idle watch): every pending and later
    // call fails at once. With bAbortive the close becomes a reset, so a peer blocked
    // sending learns at once that the connection is gone.
    void Cut(bool bAbortive);
    bool IsCut() const { return m_bCut; }
    // An orderly end after an answer: no more sends, then what the peer still sends is
    // read until it closes, so that the close never becomes a reset that could destroy
    // the answer before the peer has read it. The owner's idle watch bounds the wait.
    asio::awaitable<void> LingerClose();
    asio::ip::tcp::socket& Socket() { return m_socket; }
    // While *pbCrowded holds, each send first waits for its turn among the lane's readiness
    // events; otherwise a send goes at once where the socket takes it (less CPU per byte).
    void TakeTurnsWhen(const bool* pbCrowded) { m_pbCrowded = pbCrowded; }

private:
    asio::ip::tcp::socket& m_socket;
    bool m_bCut = false;
    const bool* m_pbCrowded = nullptr;
};

// "a.b.c.d:port" for IPv4 (an IPv4-mapped IPv6 peer too), "[addr]:port" for IPv6.
std::string FormatEndpoint(const asio::ip::tcp::endpoint& endpoint);
// The address itself, or for an IPv4-mapped IPv6 address the IPv4 address it maps.
asio::ip::address PlainAddress(const asio::ip::address& address);
// The address alone, IPv4-mapped addresses as IPv4: the key of a host.
std::string FormatHostAddress(const asio::ip::address& address);
// An address as a user writes it ("::1", "[::1]", "127.0.0.1"); "" is every interface
// (unspecified IPv6). False for anything else.
bool ParseListenAddress(const std::string& strText, asio::ip::address& address);
// The hosts other machines open this server's pages at, written as in an address
// ("10.1.2.3", "[2001:db8::5]"): for a server listening on every interface ("" or "::"),
// each address of vecInterfaces (see ListInterfaceAddresses) that is not loopback,
// unspecified, multicast or link-local IPv6, IPv4 ones first, each once; for "0.0.0.0"
// its IPv4 ones alone; for one address, that address. Link-local IPv6 needs its zone
// ("%eth0"), which browsers do not take in an address, and which names an interface of
// this machine, not of the one opening the page.
std::vector<std::string> ShareableHosts(const std::string& strListenAddr,
                                        const std::vector<std::string>& vecInterfaces);
// The same with this machine's interfaces.
std::vector<std::string> ShareableHosts(const std::string& strListenAddr);
// True for a peer that is this machine itself: a loopback address or the local address of
// its own connection (a browser here that opened the network address).
bool IsThisHostPeer(const asio::ip::tcp::socket& socket);

// For a sender whose peer is this host itself (loopback, or the socket's own address), a
// fixed send buffer of kLocalSendBufferBytes; see support/socket.h.
void LimitSendBufferForLocalPeer(asio::ip::tcp::socket& socket);

// Looks strHost up (an IPv4 or IPv6 literal, with or without brackets, or a name, both
// families) into the endpoints to try in turn. 0, or the error code for GetErrorText.
// Blocks while the system resolver works: call it where waiting is allowed.
int ResolveHost(const std::string& strHost, int nPort,
                std::vector<asio::ip::tcp::endpoint>& vecOut);

#include "support/socket_stream.h"

#include "support/socket.h"

#include <asio/write.hpp>

#include <algorithm>

CSocketStream::CSocketStream(asio::ip::tcp::socket& socket) : m_socket(socket) {
    asio::error_code ec;
    m_socket.non_blocking(true, ec);
}

asio::awaitable<int> CSocketStream::Send(const void* pData, size_t nLen) {
#if !defined(_WIN32)
    // A send that completes at once goes straight back into the lane's queue, behind which
    // the lane looks at its readiness events only once per round: a few thousand fast
    // senders would keep it from ever reading new requests. On a crowded lane every send
    // therefore first waits for its turn among those events. (Windows needs none of this:
    // overlapped completions come back in turn through the port.)
    while (m_pbCrowded != nullptr && *m_pbCrowded) {
        if (m_bCut)
            co_return -1;
        auto [ecWait] = co_await m_socket.async_wait(asio::socket_base::wait_write, kAwaitTuple);
        if (ecWait || m_bCut)
            co_return -1;
        asio::error_code ec;
        const size_t n = m_socket.send(asio::buffer(pData, nLen), 0, ec);
        if (!ec) {
            Moved(n);
            co_return static_cast<int>(n);
        }
        if (ec != asio::error::would_block && ec != asio::error::try_again)
            co_return -1;
    }
#endif
    if (m_bCut)
        co_return -1;
    auto [ec, n] = co_await m_socket.async_write_some(asio::buffer(pData, nLen), kAwaitTuple);
    if (ec || m_bCut)
        co_return -1;
    Moved(n);
    co_return static_cast<int>(n);
}

asio::awaitable<int> CSocketStream::Recv(void* pData, size_t nLen) {
    if (m_bCut)
        co_return -1;
    auto [ec, n] = co_await m_socket.async_read_some(asio::buffer(pData, nLen), kAwaitTuple);
    if (ec == asio::error::eof)
        co_return 0;
    if (ec || m_bCut)
        co_return -1;
    Moved(n);
    co_return static_cast<int>(n);
}

int CSocketStream::PollReadableNow() {
    char ch = 0;
    asio::error_code ec;
    m_socket.receive(asio::buffer(&ch, 1), asio::socket_base::message_peek, ec);
    return ec == asio::error::would_block || ec == asio::error::try_again ? 0 : 1;
}

void CSocketStream::PrepareBulkSend() {
    LimitSendBufferForLocalPeer(m_socket);
}

bool CSocketStream::PeerIsThisHost() const {
    return IsThisHostPeer(m_socket);
}

int CSocketStream::LocalPort() const {
    asio::error_code ec;
    const auto local = m_socket.local_endpoint(ec);
    return ec ? 0 : local.port();
}

void CSocketStream::Cut(bool bAbortive) {
    if (m_bCut)
        return;
    m_bCut = true;
    asio::error_code ec;
    // A reset needs no shutdown first: the close sends it.
    if (bAbortive)
        m_socket.set_option(asio::socket_base::linger(true, 0), ec);
    else
        m_socket.shutdown(asio::socket_base::shutdown_both, ec);
    m_socket.cancel(ec);
}

asio::awaitable<void> CSocketStream::LingerClose() {
    asio::error_code ec;
    m_socket.shutdown(asio::socket_base::shutdown_send, ec);
    if (ec)
        co_return;
    while (co_await Recv(ScratchBuffer(), kScratchSize) > 0) {
    }
}

std::string FormatHostAddress(const asio::ip::address& address) {
    return PlainAddress(address).to_string();
}

std::string FormatEndpoint(const asio::ip::tcp::endpoint& endpoint) {
    const std::string strHost = FormatHostAddress(endpoint.address());
    const std::string strPort = std::to_string(endpoint.port());
    return strHost.find(':') != std::string::npos ? "[" + strHost + "]:" + strPort
                                                  : strHost + ":" + strPort;
}

bool ParseListenAddress(const std::string& strText, asio::ip::address& address) {
    if (strText.empty()) {
        address = asio::ip::address_v6::any();
        return true;
    }
    std::string strBare = strText;
    if (strBare.size() > 2 && strBare.front() == '[' && strBare.back() == ']')
        strBare = strBare.substr(1, strBare.size() - 2);
    asio::error_code ec;
    address = asio::ip::make_address(strBare, ec);
    return !ec;
}
asio::ip::address PlainAddress(const asio::ip::address& a) {
    return a.is_v6() && a.to_v6().is_v4_mapped()
               ? asio::ip::address(asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6()))
               : a;
}

namespace {

std::string UrlHost(const asio::ip::address& address) {
    if (!address.is_v6())
        return address.to_string();
    std::string strHost = "[";
    strHost += address.to_string();
    strHost += ']';
    return strHost;
}

} // namespace

std::vector<std::string> ShareableHosts(const std::string& strListenAddr,
                                        const std::vector<std::string>& vecInterfaces) {
    std::vector<std::string> vecOut;
    asio::ip::address listen;
    if (!ParseListenAddress(strListenAddr, listen))
        return vecOut;
    if (!listen.is_unspecified()) {
        vecOut.push_back(UrlHost(PlainAddress(listen)));
        return vecOut;
    }
    std::vector<asio::ip::address> vecAddrs;
    for (const std::string& strAddr : vecInterfaces) {
        asio::error_code ec;
        const asio::ip::address address = PlainAddress(asio::ip::make_address(strAddr, ec));
        if (ec || address.is_loopback() || address.is_unspecified() || address.is_multicast() ||
            (address.is_v6() && address.to_v6().is_link_local()) ||
            (listen.is_v4() && !address.is_v4()) ||
            std::find(vecAddrs.begin(), vecAddrs.end(), address) != vecAddrs.end())
            continue;
        vecAddrs.push_back(address);
    }
    std::stable_partition(vecAddrs.begin(), vecAddrs.end(),
                          [](const asio::ip::address& a) { return a.is_v4(); });
    for (const asio::ip::address& address : vecAddrs)
        vecOut.push_back(UrlHost(address));
    return vecOut;
}

std::vector<std::string> ShareableHosts(const std::string& strListenAddr) {
    return ShareableHosts(strListenAddr, ListInterfaceAddresses());
}

bool IsThisHostPeer(const asio::ip::tcp::socket& socket) {
    asio::error_code ec;
    const auto peer = socket.remote_endpoint(ec);
    if (ec)
        return false;
    const auto local = socket.local_endpoint(ec);
    if (ec)
        return false;
    const asio::ip::address peerAddr = PlainAddress(peer.address());
    return peerAddr.is_loopback() || peerAddr == PlainAddress(local.address());
}

void LimitSendBufferForLocalPeer(asio::ip::tcp::socket& socket) {
#if !defined(_WIN32)
    asio::error_code ec;
    if (!IsThisHostPeer(socket))
        return;
    socket.set_option(asio::socket_base::send_buffer_size(kLocalSendBufferBytes), ec);
#else
    (void)socket; // Windows switches off its own send sizing when the option is set
#endif
}

// Systems without epoll: the pump never runs and each download keeps its own thread.
#include "server/download_pump.h"

struct CDownloadPump::CLane {};

CDownloadPump::CDownloadPump(CKestrunEngine& engine) : m_engine(engine) {}

CDownloadPump::~CDownloadPump() = default;

bool CDownloadPump::Start(int, EndedFn) {
    return false;
}

bool CDownloadPump::Add(const CPumpedDownload&) {
    return false;
}

void CDownloadPump::Stop() {}

size_t CDownloadPump::LaneCount() {
    return 0;
}

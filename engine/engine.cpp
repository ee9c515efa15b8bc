#include "engine/engine.h"

#include "engine/io_core.h"

CKestrunEngine::CKestrunEngine(CEngineEvents* pEvents)
    : m_pEvents(pEvents != nullptr ? pEvents : &m_noEvents), m_pCore(std::make_unique<CIoCore>()) {}

CKestrunEngine::~CKestrunEngine() = default;
